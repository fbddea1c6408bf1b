// The frame slider and the spin box of the film windows, offscreen: the slider's range refusals,
// its geometry and half-to-even conversions, its mouse handling with the selection band and what
// it paints; the spin box's reading, clamping, change and focus rules.

#include "editor/TSpinEdit.h"
#include "editor/TjanTracker.h"

#include <QApplication>
#include <QFocusEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Mouse {
    TjanTracker& tracker;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;

    void send(QEvent::Type type, int x, int y, Qt::MouseButton button, Qt::MouseButtons held) {
        const QPointF local(x, y);
        QMouseEvent event(type, local, tracker.mapToGlobal(local), button, held, modifiers);
        QApplication::sendEvent(&tracker, &event);
    }
    void press(int x, int y) {
        send(QEvent::MouseButtonPress, x, y, Qt::LeftButton, Qt::LeftButton);
    }
    void move(int x, int y) { send(QEvent::MouseMove, x, y, Qt::NoButton, Qt::LeftButton); }
    void release(int x, int y) {
        send(QEvent::MouseButtonRelease, x, y, Qt::LeftButton, Qt::NoButton);
    }
};

// A slider as the film windows lay it out: 14 pixels high, thumb 7 x 10, no caption.
void likeTheFilmWindows(TjanTracker& t, int width) {
    t.show();
    t.resize(width, 14);
    t.SetThumbWidth(7);
    t.SetThumbHeight(10);
    t.SetShowCaption(false);
    t.SetSelectionColorShow(true);
}

TEST(FrameSlider, DefaultsAndTheRefusedRangeWrites) {
    TjanTracker t;
    EXPECT_EQ(t.size(), QSize(150, 24));
    EXPECT_EQ(t.Minimum(), 0);
    EXPECT_EQ(t.Maximum(), 100);
    EXPECT_EQ(t.Value(), 0);
    EXPECT_EQ(t.Orientation(), TjanTracker::jtbHorizontal);
    EXPECT_EQ(t.BackColor(), QColor(192, 192, 192));
    EXPECT_EQ(t.TrackColor(), QColor(128, 128, 128));
    EXPECT_EQ(t.SelectionColor(), QColor(0, 0, 255));
    EXPECT_TRUE(t.TrackBorder());
    EXPECT_TRUE(t.ShowCaption());
    EXPECT_FALSE(t.SelectionColorShow());
    EXPECT_EQ(t.ThumbWidth(), 20);
    EXPECT_EQ(t.ThumbHeight(), 16);
    EXPECT_EQ(t.TrackHeight(), 6);
    // Properties are reachable by name too (the windows' accessibility and tests use them).
    EXPECT_EQ(t.property("ThumbWidth").toInt(), 20);

    // Maximum equal to or below Minimum, and Minimum equal to or above Maximum, change nothing.
    t.SetMaximum(0);
    t.SetMaximum(-3);
    t.SetMinimum(100);
    t.SetMinimum(101);
    EXPECT_EQ(t.Minimum(), 0);
    EXPECT_EQ(t.Maximum(), 100);

    // With Minimum 1 the value 0 is still taken (the current value lies in range), a following 5
    // is ignored (now it does not), and Minimum 0 brings the value back into range.
    t.SetValue(1);
    t.SetMinimum(1);
    t.SetValue(0);
    EXPECT_EQ(t.Value(), 0);
    t.SetValue(5);
    EXPECT_EQ(t.Value(), 0);
    t.SetMinimum(0);
    t.SetValue(5);
    EXPECT_EQ(t.Value(), 5);
    // Raising Minimum above the value raises the value; lowering Maximum lowers it.
    t.SetMinimum(10);
    EXPECT_EQ(t.Value(), 10);
    t.SetValue(50);
    t.SetMaximum(40);
    EXPECT_EQ(t.Value(), 40);

    // From an in-range value, Maximum + 5 is taken and puts the thumb beyond the track end.
    t.SetValue(45);
    EXPECT_EQ(t.Value(), 45);
    EXPECT_GT(t.ThumbPosition(), t.TrackEnd());

    // ThumbHeight and TrackHeight must stay below the height.
    t.SetThumbHeight(24);
    EXPECT_EQ(t.ThumbHeight(), 16);
    t.SetTrackHeight(30);
    EXPECT_EQ(t.TrackHeight(), 6);

    // The selection is stored as written and read in order.
    t.SetSelStart(9);
    t.SetSelEnd(4);
    EXPECT_EQ(t.SelStart(), 4);
    EXPECT_EQ(t.SelEnd(), 9);
}

TEST(FrameSlider, GeometryAndConversionsRoundHalvesToEven) {
    TjanTracker t;
    t.show();
    // Width 150, thumb 20: the track runs from 15 to 135.
    EXPECT_EQ(t.TrackStart(), 15);
    EXPECT_EQ(t.TrackEnd(), 135);
    EXPECT_EQ(t.TrackRect(), (TjanTracker::Rect{15, 9, 135, 15}));
    EXPECT_EQ(t.HitRect(), (TjanTracker::Rect{15, 4, 135, 20}));

    // Width 158: a track of 128 pixels, so that the halves below are exact.
    t.resize(158, 24);
    EXPECT_EQ(t.TrackEnd(), 143);
    // Range 0..256: thumb = 15 + round(v / 2).
    t.SetMaximum(256);
    t.SetValue(1);
    EXPECT_EQ(t.ThumbPosition(), 15); // 0.5 -> 0
    t.SetValue(3);
    EXPECT_EQ(t.ThumbPosition(), 17); // 1.5 -> 2
    t.SetValue(5);
    EXPECT_EQ(t.ThumbPosition(), 17); // 2.5 -> 2

    // Range 0..64: value = round((x - 15) / 2) from the mouse.
    t.SetMaximum(64);
    std::vector<int> values;
    QObject::connect(&t, &TjanTracker::onChangedValue, [&](TjanTracker* sender, int v) {
        EXPECT_EQ(sender, &t);
        values.push_back(v);
    });
    Mouse mouse{t};
    for (int x : {16, 18, 20, 22}) {
        mouse.press(x, 12);
        mouse.release(x, 12);
    }
    EXPECT_EQ(values, (std::vector<int>{0, 2, 2, 4})); // 0.5, 1.5, 2.5, 3.5

    // A vertical slider exchanges the axes.
    TjanTracker v;
    v.show();
    v.SetOrientation(TjanTracker::jtbVertical);
    v.resize(24, 150);
    EXPECT_EQ(v.TrackStart(), 16 / 2 + 5);
    EXPECT_EQ(v.TrackEnd(), 150 - 13);
    EXPECT_EQ(v.TrackRect(), (TjanTracker::Rect{9, 13, 15, 137}));
    EXPECT_EQ(v.HitRect(), (TjanTracker::Rect{2, 13, 22, 137}));
}

TEST(FrameSlider, MouseDragsTheThumbAndShiftDrawsTheSelection) {
    TjanTracker t;
    likeTheFilmWindows(t, 110); // track 8..102, 94 pixels, value = (x - 8) * 100 / 94
    t.grab();                   // a paint shrinks the stored track rectangle by its border
    std::vector<int> values;
    QObject::connect(&t, &TjanTracker::onChangedValue,
                     [&](TjanTracker*, int v) { values.push_back(v); });
    const auto pixelOf = [](int value) {
        return 8 + int(std::nearbyint(value * 0.94));
    };

    // Outside the hit rectangle (above, below, in the margins) nothing happens.
    Mouse mouse{t};
    for (QPoint p : {QPoint(50, 1), QPoint(50, 13), QPoint(7, 7), QPoint(102, 7)}) {
        mouse.press(p.x(), p.y());
        mouse.move(60, 7);
        mouse.release(p.x(), p.y());
    }
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(t.Value(), 0);

    // Shift drag from 50 to 30: the anchor stays at 50, the end follows to 30.
    mouse.modifiers = Qt::ShiftModifier;
    mouse.press(pixelOf(50), 7);
    mouse.move(pixelOf(40), 20); // the other coordinate does not matter
    mouse.move(pixelOf(30), 7);
    mouse.move(pixelOf(30), 7); // an event also when the value stays
    mouse.release(pixelOf(30), 7);
    EXPECT_EQ(values, (std::vector<int>{50, 40, 30, 30}));
    EXPECT_EQ(t.Value(), 30);
    EXPECT_EQ(t.SelStart(), 30);
    EXPECT_EQ(t.SelEnd(), 50);

    // Shift released during a drag: the thumb follows, the selection end stays.
    mouse.press(pixelOf(20), 7);
    mouse.move(pixelOf(24), 7);
    mouse.modifiers = Qt::NoModifier;
    mouse.move(pixelOf(70), 7);
    EXPECT_EQ(t.Value(), 70);
    EXPECT_EQ(t.SelStart(), 20);
    EXPECT_EQ(t.SelEnd(), 24);
    // Far past either end, with the track border painted, gives exactly Minimum and Maximum.
    mouse.move(-500, 7);
    EXPECT_EQ(t.Value(), 0);
    mouse.move(900, 7);
    EXPECT_EQ(t.Value(), 100);
    mouse.release(900, 7);
    // Moves after the release do not drag.
    values.clear();
    mouse.move(pixelOf(10), 7);
    EXPECT_TRUE(values.empty());

    // Without the track border the thumb stops one pixel beyond each end.
    t.SetTrackBorder(false);
    t.grab();
    mouse.press(pixelOf(50), 7);
    mouse.move(-500, 7);
    EXPECT_EQ(t.Value(), -1); // (7 - 8) * 100 / 94 = -1.06
    mouse.move(900, 7);
    EXPECT_EQ(t.Value(), 101);
    mouse.release(900, 7);
}

TEST(FrameSlider, PaintsTrackBandBorderAndThumb) {
    TjanTracker t;
    likeTheFilmWindows(t, 110);
    t.SetSelStart(20);
    t.SetSelEnd(60);
    t.SetValue(90);
    QImage picture = t.grab().toImage();
    const auto at = [&](int x, int y) {
        return QColor(picture.pixel(x, y));
    };
    // Track rectangle 8..102 x 4..10: a black top and left edge, the band inside it in blue
    // between the selection pixels (27 and 64), grey track elsewhere, silver background outside.
    EXPECT_EQ(at(30, 4), QColor(Qt::black));
    EXPECT_EQ(at(8, 7), QColor(Qt::black));
    EXPECT_EQ(at(40, 7), QColor(0, 0, 255));
    EXPECT_EQ(at(20, 7), QColor(128, 128, 128));
    EXPECT_EQ(at(70, 7), QColor(128, 128, 128));
    EXPECT_EQ(at(40, 1), QColor(192, 192, 192));
    // The thumb at 8 + 85 = 93: silver inside, black bottom edge.
    EXPECT_EQ(at(93, 6), QColor(192, 192, 192));
    EXPECT_EQ(at(93, 11), QColor(Qt::black));

    // A selection of one value draws no visible band; TrackPositionColor darkens the track.
    t.SetSelStart(40);
    t.SetSelEnd(40);
    t.SetValue(50);
    t.SetTrackPositionColor(true);
    picture = t.grab().toImage();
    for (int x = 9; x < 101; ++x)
        EXPECT_NE(at(x, 7), QColor(0, 0, 255)) << x;
    EXPECT_EQ(at(30, 7), QColor(64, 64, 64)); // 128 * 50 / 100

    // A tiled background picture covers the control.
    QPixmap tile(8, 8);
    tile.fill(QColor(10, 200, 30));
    t.SetBackBitmap(tile);
    picture = t.grab().toImage();
    EXPECT_EQ(at(1, 1), QColor(10, 200, 30));
    EXPECT_EQ(at(105, 12), QColor(10, 200, 30));
}

void key(TSpinEdit& box, int code, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(&box, &press);
}

TEST(SpinEdit, ReadsWritesClampsAndRunsItsChangeInsideTheWrite) {
    TSpinEdit box;
    box.SetBounds(1, 10);
    int changes = 0;
    qint64 seenInside = -1;
    QObject::connect(&box, &TSpinEdit::Change, [&] {
        ++changes;
        seenInside = box.Value();
    });

    box.SetValue(5);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seenInside, 5); // the handler ran inside the write
    box.SetValue(5);
    EXPECT_EQ(changes, 1); // the same text runs nothing
    box.SetValue(50);
    EXPECT_EQ(box.text(), QStringLiteral("10"));
    box.SetValue(-3);
    EXPECT_EQ(box.text(), QStringLiteral("1"));
    EXPECT_EQ(changes, 3);

    // A text that is no integer reads as the minimum, without being rewritten.
    box.setText(QStringLiteral("abc"));
    EXPECT_EQ(box.Value(), 1);
    EXPECT_EQ(box.text(), QStringLiteral("abc"));
    // Reading does not clamp; changing the bounds touches nothing.
    box.setText(QStringLiteral("77"));
    EXPECT_EQ(box.Value(), 77);
    box.SetBounds(1, 5);
    EXPECT_EQ(box.text(), QStringLiteral("77"));

    // Leaving the focus with an out-of-range text rewrites it clamped.
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&box, &out);
    EXPECT_EQ(box.text(), QStringLiteral("5"));
    box.setText(QStringLiteral("3"));
    QApplication::sendEvent(&box, &out);
    EXPECT_EQ(box.text(), QStringLiteral("3"));

    // With equal bounds nothing is clamped.
    box.SetBounds(0, 0);
    box.SetValue(9);
    EXPECT_EQ(box.text(), QStringLiteral("9"));

    // The arrow keys step by the increment, clamped; letters are not typed into a number.
    box.SetBounds(0, 100);
    box.SetValue(10);
    box.SetIncrement(7);
    key(box, Qt::Key_Up);
    EXPECT_EQ(box.Value(), 17);
    key(box, Qt::Key_Down);
    key(box, Qt::Key_Down);
    key(box, Qt::Key_Down);
    EXPECT_EQ(box.Value(), 0);
    box.setFocus();
    box.end(false);
    key(box, Qt::Key_X, QStringLiteral("x"));
    EXPECT_EQ(box.text(), QStringLiteral("0"));
    key(box, Qt::Key_4, QStringLiteral("4"));
    EXPECT_EQ(box.text(), QStringLiteral("04"));
    EXPECT_EQ(box.Value(), 4);
}

TEST(SpinEdit, AKeyPressHandlerCanSwallowEveryTypedKeyButNotTheArrows) {
    TSpinEdit box;
    box.SetBounds(1, 250);
    box.SetValue(1);
    int pressed = 0;
    box.OnKeyPress = [&](QChar& k) {
        ++pressed;
        k = QChar();
    };
    box.end(false);
    key(box, Qt::Key_7, QStringLiteral("7"));
    key(box, Qt::Key_Backspace, QStringLiteral("\b"));
    key(box, Qt::Key_Delete);
    EXPECT_EQ(pressed, 3);
    EXPECT_EQ(box.text(), QStringLiteral("1"));
    key(box, Qt::Key_Up);
    EXPECT_EQ(box.Value(), 2);
}

} // namespace
