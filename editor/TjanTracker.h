#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>

// The frame slider of the film windows: a painted track with a draggable thumb standing for an
// integer Value between Minimum and Maximum, and a coloured selection band between two stored
// values that the user draws by dragging with Shift held. User changes are reported through
// onChangedValue, raised only from the mouse; values set by the program raise nothing.
//
// Geometry (horizontal; vertical exchanges x and y, width and height):
//   track start = ThumbWidth div 2 + 5, track end = width - track start;
//   value = round((thumb - start) / (end - start) * (Maximum - Minimum) + Minimum), halves to
//   even, and thumb = start + round((value - Minimum) / (Maximum - Minimum) * (end - start)).
class TjanTracker : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Minimum READ Minimum WRITE SetMinimum)
    Q_PROPERTY(int Maximum READ Maximum WRITE SetMaximum)
    Q_PROPERTY(int Value READ Value WRITE SetValue)
    Q_PROPERTY(TjtbOrientation Orientation READ Orientation WRITE SetOrientation)
    Q_PROPERTY(QPixmap BackBitmap READ BackBitmap WRITE SetBackBitmap)
    Q_PROPERTY(QColor BackColor READ BackColor WRITE SetBackColor)
    Q_PROPERTY(bool BackBorder READ BackBorder WRITE SetBackBorder)
    Q_PROPERTY(QColor TrackColor READ TrackColor WRITE SetTrackColor)
    Q_PROPERTY(bool TrackPositionColor READ TrackPositionColor WRITE SetTrackPositionColor)
    Q_PROPERTY(bool TrackBorder READ TrackBorder WRITE SetTrackBorder)
    Q_PROPERTY(QColor BorderColor READ BorderColor WRITE SetBorderColor)
    Q_PROPERTY(QColor ThumbColor READ ThumbColor WRITE SetThumbColor)
    Q_PROPERTY(bool ThumbBorder READ ThumbBorder WRITE SetThumbBorder)
    Q_PROPERTY(int ThumbWidth READ ThumbWidth WRITE SetThumbWidth)
    Q_PROPERTY(int ThumbHeight READ ThumbHeight WRITE SetThumbHeight)
    Q_PROPERTY(int TrackHeight READ TrackHeight WRITE SetTrackHeight)
    Q_PROPERTY(bool ShowCaption READ ShowCaption WRITE SetShowCaption)
    Q_PROPERTY(QColor CaptionColor READ CaptionColor WRITE SetCaptionColor)
    Q_PROPERTY(bool CaptionBold READ CaptionBold WRITE SetCaptionBold)
    Q_PROPERTY(int SelStart READ SelStart WRITE SetSelStart)
    Q_PROPERTY(int SelEnd READ SelEnd WRITE SetSelEnd)
    Q_PROPERTY(bool SelectionColorShow READ SelectionColorShow WRITE SetSelectionColorShow)
    Q_PROPERTY(QColor SelectionColor READ SelectionColor WRITE SetSelectionColor)

public:
    enum TjtbOrientation { jtbHorizontal, jtbVertical };
    Q_ENUM(TjtbOrientation)

    // A rectangle as the painting works with it: right and bottom lie just outside.
    struct Rect {
        int left = 0, top = 0, right = 0, bottom = 0;
        bool contains(int x, int y) const {
            return x >= left && x < right && y >= top && y < bottom;
        }
        bool operator==(const Rect&) const = default;
    };

    explicit TjanTracker(QWidget* parent = nullptr);

    int Minimum() const { return m_minimum; }
    int Maximum() const { return m_maximum; }
    int Value() const { return m_value; }
    // Refused unless below Maximum; raises Value to it when below.
    void SetMinimum(int value);
    // Refused unless above Minimum; lowers Value to it when above.
    void SetMaximum(int value);
    // Taken only while the current Value lies within Minimum..Maximum; the new value itself is not
    // tested. Raises no event.
    void SetValue(int value);

    TjtbOrientation Orientation() const { return m_orientation; }
    void SetOrientation(TjtbOrientation orientation);
    QPixmap BackBitmap() const { return m_backBitmap; }
    void SetBackBitmap(const QPixmap& picture);
    QColor BackColor() const { return m_backColor; }
    void SetBackColor(const QColor& c) { store(m_backColor, c); }
    bool BackBorder() const { return m_backBorder; }
    void SetBackBorder(bool b) { store(m_backBorder, b); }
    QColor TrackColor() const { return m_trackColor; }
    void SetTrackColor(const QColor& c) { store(m_trackColor, c); }
    bool TrackPositionColor() const { return m_trackPositionColor; }
    void SetTrackPositionColor(bool b) { store(m_trackPositionColor, b); }
    bool TrackBorder() const { return m_trackBorder; }
    void SetTrackBorder(bool b) { store(m_trackBorder, b); }
    QColor BorderColor() const { return m_borderColor; }
    void SetBorderColor(const QColor& c) { store(m_borderColor, c); }
    QColor ThumbColor() const { return m_thumbColor; }
    void SetThumbColor(const QColor& c) { store(m_thumbColor, c); }
    // Stored only: painting does not consult it.
    bool ThumbBorder() const { return m_thumbBorder; }
    void SetThumbBorder(bool b) { store(m_thumbBorder, b); }
    int ThumbWidth() const { return m_thumbWidth; }
    void SetThumbWidth(int value);
    int ThumbHeight() const { return m_thumbHeight; }
    // Taken only when below the control's height.
    void SetThumbHeight(int value);
    int TrackHeight() const { return m_trackHeight; }
    // Taken only when below the height (horizontal) or the width (vertical).
    void SetTrackHeight(int value);
    bool ShowCaption() const { return m_showCaption; }
    void SetShowCaption(bool b) { store(m_showCaption, b); }
    QColor CaptionColor() const { return m_captionColor; }
    void SetCaptionColor(const QColor& c) { store(m_captionColor, c); }
    bool CaptionBold() const { return m_captionBold; }
    void SetCaptionBold(bool b) { store(m_captionBold, b); }
    // The smaller and the larger of the two stored selection values.
    int SelStart() const { return std::min(m_selAnchor, m_selEndValue); }
    int SelEnd() const { return std::max(m_selAnchor, m_selEndValue); }
    // Store the selection anchor and end value as given, without check or ordering.
    void SetSelStart(int value);
    void SetSelEnd(int value);
    bool SelectionColorShow() const { return m_selectionColorShow; }
    void SetSelectionColorShow(bool b) { store(m_selectionColorShow, b); }
    QColor SelectionColor() const { return m_selectionColor; }
    void SetSelectionColor(const QColor& c) { store(m_selectionColor, c); }

    // Internal state, for the tests of the geometry.
    int ThumbPosition() const { return m_thumbPos; }
    int TrackStart() const { return m_trackStart; }
    int TrackEnd() const { return m_trackEnd; }
    const Rect& TrackRect() const { return m_trackRect; }
    const Rect& HitRect() const { return m_hitRect; }
    const Rect& ThumbRect() const { return m_thumbRect; }
    const Rect& SelectionRect() const { return m_selRect; }
    int SelectionStartPixel() const { return m_selStartPixel; }
    int SelectionEndPixel() const { return m_selEndPixel; }

    QSize sizeHint() const override { return {150, 24}; }

Q_SIGNALS:
    void onChangedValue(TjanTracker* Sender, int NewValue);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    template <class T>
    void store(T& field, const T& value) {
        field = value;
        update();
    }
    bool horizontal() const { return m_orientation == jtbHorizontal; }
    int along() const { return horizontal() ? width() : height(); }
    int across() const { return horizontal() ? height() : width(); }
    int thumbAlong() const { return horizontal() ? m_thumbWidth : m_thumbHeight; }
    int thumbAcross() const { return horizontal() ? m_thumbHeight : m_thumbWidth; }
    // A rectangle given along and across the track, in widget coordinates.
    Rect oriented(int alongLow, int alongHigh, int acrossLow, int acrossHigh) const;
    int rectAlongLow(const Rect& r) const { return horizontal() ? r.left : r.top; }
    int rectAlongHigh(const Rect& r) const { return horizontal() ? r.right : r.bottom; }

    void computeTrackEnds();
    void computeTrackRect();
    void computeHitRect();
    void computeThumbRect();
    void computeSelectionRect();
    void computeGeometry();
    int valueFromPosition(int position) const;
    int positionFromValue(int value) const;
    void computeSelectionPixels();
    int clampedPointer(int coordinate) const;
    int pointerAlong(const QPointF& p) const { return int(horizontal() ? p.x() : p.y()); }

    int m_minimum = 0;
    int m_maximum = 100;
    int m_value = 0;
    TjtbOrientation m_orientation = jtbHorizontal;
    QPixmap m_backBitmap;
    QColor m_backColor{0xC0, 0xC0, 0xC0};
    bool m_backBorder = false;
    QColor m_trackColor{0x80, 0x80, 0x80};
    bool m_trackPositionColor = false;
    bool m_trackBorder = true;
    QColor m_borderColor{0, 0, 0};
    QColor m_thumbColor{0xC0, 0xC0, 0xC0};
    bool m_thumbBorder = false;
    int m_thumbWidth = 20;
    int m_thumbHeight = 16;
    int m_trackHeight = 6;
    bool m_showCaption = true;
    QColor m_captionColor{0, 0, 0};
    bool m_captionBold = false;
    bool m_selectionColorShow = false;
    QColor m_selectionColor{0, 0, 0xFF};

    int m_thumbPos = 0;
    int m_trackStart = 0;
    int m_trackEnd = 0;
    int m_selAnchor = 0;
    int m_selEndValue = 0;
    int m_selStartPixel = 0;
    int m_selEndPixel = 0;
    Rect m_trackRect, m_hitRect, m_thumbRect, m_selRect;
    bool m_dragging = false;
    bool m_selecting = false;
};
