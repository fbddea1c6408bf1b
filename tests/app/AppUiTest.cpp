// The window pieces both programs share: the error route, skins, the temporary-file clean-up, the
// status bar's drawn panels, the help viewer, the tray icon's rules and shortcut keys.

#include "platform/core/AppFolder.h"
#include "platform/core/Exception.h"
#include "platform/core/WorkFileLock.h"
#include "shared/ArquivosImagem.h"
#include "shared/PictureError.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"
#include "ui/ApagarTemporarios.h"
#include "ui/ErrorRoute.h"
#include "ui/HelpWindow.h"
#include "ui/QtPrompts.h"
#include "ui/QuadrixApplication.h"
#include "ui/ShortcutKeys.h"
#include "ui/TSkinData.h"
#include "ui/TSkinStore.h"
#include "ui/TStatusBar.h"
#include "ui/TTaskBarIcon.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QPainter>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

using namespace qdx;
using namespace qdx::test;

namespace {

struct Routed {
    QObject* sender = nullptr;
    QString text;
    int count = 0;
};

// Installs a hook that records what reaches the error route.
class RouteRecorder {
public:
    RouteRecorder() {
        m_previous = ui::setExceptionHook([this](QObject* s, const std::exception& e) {
            routed.sender = s;
            routed.text = ui::exceptionText(e);
            ++routed.count;
        });
    }
    ~RouteRecorder() { ui::setExceptionHook(m_previous); }
    Routed routed;

private:
    ui::ExceptionHook m_previous;
};

TEST(ErrorRoute, HandlersThatThrowReachTheHookWithTheirSenderAndTheProgramGoesOn) {
    RouteRecorder recorder;
    QPushButton button;
    int after = 0;
    QObject::connect(&button, &QPushButton::clicked, &button, ui::guarded(&button, [](bool) {
        throw qdx::Exception(QStringLiteral("Broken film."));
    }));
    QObject::connect(&button, &QPushButton::clicked, &button, [&after] { ++after; });
    button.click();
    EXPECT_EQ(recorder.routed.count, 1);
    EXPECT_EQ(recorder.routed.sender, &button);
    EXPECT_EQ(recorder.routed.text, QStringLiteral("Broken film."));
    // The other handlers of the same signal still ran.
    EXPECT_EQ(after, 1);

    // Errors of every kind carry their own text; anything else gets a generic one.
    const auto routeOf = [&](auto thrower) {
        ui::guarded(nullptr, thrower)();
        return recorder.routed.text;
    };
    EXPECT_EQ(routeOf([] { throw PictureError(QStringLiteral("Cannot write x.bmp")); }),
              QStringLiteral("Cannot write x.bmp"));
    EXPECT_EQ(routeOf([] { throw std::runtime_error("plain"); }), QStringLiteral("plain"));
    EXPECT_EQ(routeOf([] { throw 42; }), QStringLiteral("Unknown error."));
    EXPECT_EQ(recorder.routed.count, 4);
}

TEST(ErrorRoute, WithoutAHookTheErrorIsShownInTheErrorBox) {
    ScriptedPrompts prompts;
    ui::guarded(nullptr, [] { throw qdx::Exception(QStringLiteral("Disk full.")); })();
    ASSERT_EQ(prompts.texts(QStringLiteral("error")), QStringList{QStringLiteral("Disk full.")});
    EXPECT_EQ(prompts.asked[0].caption, QStringLiteral("Quadrix"));
}

TEST(ErrorRoute, AHookThatFailsItselfDoesNotEscape) {
    const ui::ExceptionHook previous = ui::setExceptionHook(
        [](QObject*, const std::exception&) { throw std::runtime_error("hook broke"); });
    EXPECT_NO_THROW(ui::guarded(nullptr, [] { throw std::runtime_error("first"); })());
    ui::setExceptionHook(previous);
}

TEST(ErrorRoute, GuardedHandlersTakeOnlyTheArgumentsTheyWant) {
    RouteRecorder recorder;
    QTimer timer;
    int fired = 0;
    // QTimer::timeout carries a private tag the handler does not take.
    QObject::connect(&timer, &QTimer::timeout, &timer, ui::guarded(&timer, [&fired] { ++fired; }));
    timer.setSingleShot(true);
    timer.start(0);
    for (int i = 0; i < 50 && fired == 0; ++i)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(fired, 1);
    int got = 0;
    ui::guarded(nullptr, [&got](int a, int b) { got = a + b; })(2, 3, QStringLiteral("ignored"));
    EXPECT_EQ(got, 5);
    EXPECT_EQ(recorder.routed.count, 0);
}

// An object whose event handler throws, as a window's own handler might.
class ThrowingObject : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            throw qdx::Exception(QStringLiteral("from an event"));
        return QObject::event(e);
    }
};

TEST(ErrorRoute, TheApplicationCatchesWhatEscapesAnEventHandler) {
    // The program's application object delivers every event this way.
    RouteRecorder recorder;
    ThrowingObject object;
    QEvent event(QEvent::User);
    bool result = true;
    EXPECT_NO_THROW(result = ui::QuadrixApplication::guardedNotify(
                        &object, &event, [](QObject* r, QEvent* e) { return r->event(e); }));
    EXPECT_FALSE(result);
    EXPECT_EQ(recorder.routed.sender, &object);
    EXPECT_EQ(recorder.routed.text, QStringLiteral("from an event"));
}

TEST(Skins, TheEngineColoursEveryWindowAndSwitchingOffRestoresThePlainLook) {
    const QPalette plain = QApplication::palette();
    TSkinStore store;
    ASSERT_EQ(store.Count(), 3);
    EXPECT_EQ(store.Skin(3), nullptr);
    EXPECT_EQ(store.Skin(-1), nullptr);
    // The three skins differ from each other.
    EXPECT_NE(store.Skin(0)->palette.color(QPalette::Window),
              store.Skin(1)->palette.color(QPalette::Window));
    EXPECT_NE(store.Skin(1)->palette.color(QPalette::Window),
              store.Skin(2)->palette.color(QPalette::Window));

    QWidget window;
    auto* area = new QMdiArea(&window);
    TSkinData engine;
    engine.LoadFromCollection(store, 2);
    EXPECT_EQ(engine.SkinName(), QStringLiteral("Verde"));
    // Loading alone changes nothing on screen.
    EXPECT_EQ(window.palette().color(QPalette::Window), plain.color(QPalette::Window));
    engine.SetActive(true);
    EXPECT_EQ(window.palette().color(QPalette::Window),
              store.Skin(2)->palette.color(QPalette::Window));
    EXPECT_EQ(area->background().color(), store.Skin(2)->workspace);
    // Windows made later take the skin too.
    QWidget later;
    EXPECT_EQ(later.palette().color(QPalette::Window),
              store.Skin(2)->palette.color(QPalette::Window));

    // An index the store does not hold is ignored; an announced change repaints in the new skin.
    engine.LoadFromCollection(store, 7);
    EXPECT_EQ(engine.SkinName(), QStringLiteral("Verde"));
    engine.LoadFromCollection(store, 0);
    EXPECT_EQ(window.palette().color(QPalette::Window),
              store.Skin(2)->palette.color(QPalette::Window));
    engine.DoSkinChanged();
    EXPECT_EQ(window.palette().color(QPalette::Window),
              store.Skin(0)->palette.color(QPalette::Window));

    engine.SetActive(false);
    EXPECT_EQ(window.palette().color(QPalette::Window), plain.color(QPalette::Window));
    EXPECT_EQ(area->background().color(), QColor(Qt::gray));
}

// Only the engine's own leftover work files go: other files whose names hold "tmp_" stay, and so
// does a work file some running program still holds (this one or another: the lock belongs to
// the open file, so a second open in this process stands for another program).
TEST(ApagarTemporarios, DeletesOnlyWorkFilesNoProgramHolds) {
    TempDir dir;
    setApplicationFolder(dir.path());
    const QString hex = QStringLiteral("0123456789ABCDEF0123456789abcdef");
    const QStringList leftovers = {QStringLiteral("tmp_") + hex + QStringLiteral(".avi"),
                                   QStringLiteral("tmp_") + hex + QStringLiteral(".wav")};
    const QStringList others = {QStringLiteral("my_tmp_notes.txt"),
                                QStringLiteral("x_tmp_y.avi"),
                                QStringLiteral("tmp_") + hex + QStringLiteral(".txt"),
                                QStringLiteral("tmp_0123.avi"),
                                QStringLiteral("TMP_a.avi"),
                                QStringLiteral("config.ini")};
    for (const QString& name : leftovers + others)
        ASSERT_TRUE(writeAll(dir.file(name), "x"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("tmp_") + hex + QStringLiteral(".avi.d")));
    qdx::WorkFileLock inUse = qdx::WorkFileLock::create(QStringLiteral(".avi"));
    ASSERT_TRUE(inUse.locked());
    ASSERT_TRUE(qdx::WorkFileLock::isWorkFileName(QFileInfo(inUse.path()).fileName()));
    // A work file holding a recording the user was told about is kept, locked or not.
    const QString recording = QStringLiteral("tmp_FEDCBA9876543210FEDCBA9876543210.avi");
    ASSERT_TRUE(writeAll(dir.file(recording), "frames"));
    ASSERT_TRUE(qdx::WorkFileLock::keepRecording(dir.file(recording)));
    ApagarTemporarios();
    QStringList left = QDir(dir.path()).entryList(QDir::Files);
    QStringList expected = others;
    expected << QFileInfo(inUse.path()).fileName() << recording;
    left.sort();
    expected.sort();
    EXPECT_EQ(left, expected);
    // Once let go, the work file is a leftover like any other.
    inUse.unlock();
    ApagarTemporarios();
    EXPECT_FALSE(QFileInfo::exists(inUse.path()));

    // A missing folder ends the clean-up silently.
    setApplicationFolder(dir.file(QStringLiteral("gone")));
    QDir(dir.path()).rmdir(QStringLiteral("gone"));
    EXPECT_NO_THROW(ApagarTemporarios());
}

// The open-picture dialog previews the picture file the user points at, scaled to fit; anything
// else leaves the preview empty.
TEST(QtPrompts, TheOpenPictureDialogPreviewsThePictureUnderThePointer) {
    TempDir dir;
    QImage red(300, 150, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    const QString photo = dir.file(QStringLiteral("photo.bmp"));
    SalvarImagem(TBitmap(red), photo);
    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("notes.bmp")), "not a picture"));
    FileDialogRequest request;
    request.filter = QStringLiteral("Bitmaps|*.bmp");
    request.directory = dir.path();
    request.mustExist = true;
    request.picturePreview = true;
    const std::unique_ptr<QFileDialog> dialog = qdx::ui::fileDialogFor(request, false);
    auto* preview = dialog->findChild<QLabel*>(QStringLiteral("PicturePreview"));
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->accessibleName(), QStringLiteral("Preview"));
    Q_EMIT dialog->currentChanged(photo);
    ASSERT_FALSE(preview->pixmap().isNull());
    EXPECT_EQ(preview->pixmap().size(), QSize(200, 100));
    EXPECT_EQ(preview->pixmap().toImage().pixel(100, 50), qRgb(255, 0, 0));
    Q_EMIT dialog->currentChanged(dir.file(QStringLiteral("notes.bmp")));
    EXPECT_TRUE(preview->pixmap().isNull());
    // Other dialogs have none.
    request.picturePreview = false;
    EXPECT_EQ(qdx::ui::fileDialogFor(request, false)
                  ->findChild<QLabel*>(QStringLiteral("PicturePreview")),
              nullptr);
}

TEST(TStatusBar, PanelsLieAtTheirWidthsAndDrawnPanelsArePaintedByTheProgram) {
    TStatusBar bar;
    bar.resize(1200, 24);
    bar.SetPanels(
        {{150, QString(), true}, {300, QStringLiteral("a"), false}, {500, QString(), false}});
    EXPECT_EQ(bar.PanelRect(0).left(), 1);
    EXPECT_EQ(bar.PanelRect(1).left(), 151);
    EXPECT_EQ(bar.PanelRect(2).left(), 451);
    // The last panel takes the rest of the bar.
    EXPECT_EQ(bar.PanelRect(2).right(), 1200 - 3);
    EXPECT_TRUE(bar.PanelRect(3).isNull());

    QList<int> drawn;
    bar.OnDrawPanel = [&drawn](TStatusBar*, QPainter& canvas, int panel, const QRect& rect) {
        drawn.append(panel);
        canvas.fillRect(rect, Qt::red);
    };
    const QImage shot = bar.grab().toImage();
    EXPECT_EQ(drawn, QList<int>{0});
    EXPECT_EQ(shot.pixelColor(bar.PanelRect(0).center()), QColor(Qt::red));
    EXPECT_NE(shot.pixelColor(bar.PanelRect(1).center()), QColor(Qt::red));

    // A drawing handler that throws reaches the error route instead of ending the program.
    RouteRecorder recorder;
    bar.OnDrawPanel = [](TStatusBar*, QPainter&, int, const QRect&) {
        throw std::runtime_error("paint failed");
    };
    bar.grab();
    EXPECT_EQ(recorder.routed.text, QStringLiteral("paint failed"));
}

TEST(Help, ContentsAndContextTopicsOfTheHelpFileAndTheHook) {
    ScriptedPrompts prompts;
    const QString file = sourceDir() + QStringLiteral("/app/help/Quadrix.html");
    ASSERT_TRUE(WinHelp(nullptr, file, HELP_CONTENTS, 0));
    ASSERT_NE(helpWindow(), nullptr);
    EXPECT_TRUE(helpWindow()->isVisible());
    EXPECT_TRUE(helpWindow()->Browser()->toPlainText().contains(QStringLiteral("Quadrix Help")));
    EXPECT_TRUE(helpWindow()->CurrentAnchor().isEmpty());
    EXPECT_TRUE(WinHelp(nullptr, file, HELP_CONTEXTPOPUP, 2));
    EXPECT_EQ(helpWindow()->CurrentAnchor(), QStringLiteral("context-2"));
    // A context the file does not have shows the contents.
    EXPECT_TRUE(WinHelp(nullptr, file, HELP_CONTEXT, 999));
    EXPECT_TRUE(helpWindow()->CurrentAnchor().isEmpty());
    EXPECT_TRUE(WinHelp(nullptr, file, HELP_QUIT, 0));
    EXPECT_FALSE(helpWindow()->isVisible());
    EXPECT_TRUE(prompts.asked.empty());

    // A missing help file is said, not ignored.
    EXPECT_FALSE(WinHelp(nullptr, file + QStringLiteral(".missing"), HELP_CONTENTS, 0));
    ASSERT_EQ(prompts.texts(QStringLiteral("error")).size(), 1);

    // The hook sees requests first; clearing CallHelp keeps the normal handling from running.
    setApplicationHelpFile(file + QStringLiteral(".missing"));
    QList<int> seen;
    setApplicationHelpHook([&seen](uint16_t command, int32_t, bool& callHelp) {
        seen.append(command);
        callHelp = false;
        return true;
    });
    EXPECT_TRUE(HelpCommand(nullptr, HELP_CONTEXTPOPUP, 5));
    EXPECT_EQ(seen, QList<int>{HELP_CONTEXTPOPUP});
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).size(), 1);
    setApplicationHelpHook({});
    EXPECT_FALSE(HelpCommand(nullptr, HELP_CONTENTS, 0));
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).size(), 2);
    setApplicationHelpFile({});
}

// A notification area that records what it was asked.
class RecordingArea : public TrayArea {
public:
    bool accept = true;
    int adds = 0, modifies = 0, removes = 0;
    QString lastTip;
    bool add(const QIcon&, const QString& tip) override {
        ++adds;
        lastTip = tip;
        return accept;
    }
    void modify(const QIcon&, const QString& tip) override {
        ++modifies;
        lastTip = tip;
    }
    void remove() override { ++removes; }
};

QIcon someIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::blue);
    return QIcon(pixmap);
}

TEST(TTaskBarIcon, ShowingHidingAndChangesFollowTheAreaRules) {
    RecordingArea area;
    {
        TTaskBarIcon icon(&area, nullptr);
        EXPECT_FALSE(icon.Visible());
        // No picture: the icon cannot be shown.
        icon.SetVisible(true);
        EXPECT_FALSE(icon.Visible());
        EXPECT_EQ(area.adds, 0);

        icon.SetIcon(someIcon());
        icon.SetTip(QStringLiteral("Quadrix"));
        EXPECT_EQ(area.modifies, 0); // hidden: only stored
        icon.SetVisible(true);
        icon.SetVisible(true);
        EXPECT_TRUE(icon.Visible());
        EXPECT_EQ(area.adds, 1);
        EXPECT_EQ(area.lastTip, QStringLiteral("Quadrix"));
        icon.SetTip(QStringLiteral("Other"));
        EXPECT_EQ(area.modifies, 1);
        icon.SetVisible(false);
        EXPECT_EQ(area.removes, 1);
        icon.SetVisible(true);
        EXPECT_EQ(area.adds, 2);
        EXPECT_EQ(area.lastTip, QStringLiteral("Other"));

        // Tips are cut to 63 characters.
        icon.SetTip(QString(100, QLatin1Char('x')));
        EXPECT_EQ(icon.Tip().size(), TTaskBarIcon::kMaxTip);
        EXPECT_EQ(area.lastTip.size(), 63);
    }
    // Destroying a shown icon takes it out of the area.
    EXPECT_EQ(area.removes, 2);

    // An area that refuses the icon leaves Visible false.
    RecordingArea refusing;
    refusing.accept = false;
    TTaskBarIcon icon(&refusing, nullptr);
    icon.SetIcon(someIcon());
    icon.SetVisible(true);
    EXPECT_FALSE(icon.Visible());
}

TEST(TTaskBarIcon, AreaActionsBecomeButtonEventsAtTheCursor) {
    RecordingArea area;
    TTaskBarIcon icon(&area, nullptr);
    QStringList events;
    const auto recorder = [&events](const char* kind) {
        return [&events, kind](QObject*, Qt::MouseButton button, Qt::KeyboardModifiers shift, int,
                               int) {
            events.append(QString::fromLatin1(kind) + QLatin1Char(':') +
                          QString::number(int(button)) +
                          (shift == Qt::NoModifier ? QString() : QStringLiteral("+shift")));
        };
    };
    icon.OnDown = recorder("down");
    icon.OnUp = recorder("up");
    icon.OnDblClick = recorder("dbl");
    icon.AreaAction(TTaskBarIcon::Action::RightClick);
    icon.AreaAction(TTaskBarIcon::Action::LeftClick);
    icon.AreaAction(TTaskBarIcon::Action::DoubleClick);
    icon.AreaAction(TTaskBarIcon::Action::MiddleClick);
    const QString l = QString::number(int(Qt::LeftButton)),
                  r = QString::number(int(Qt::RightButton)),
                  m = QString::number(int(Qt::MiddleButton));
    EXPECT_EQ(events, (QStringList{"down:" + r, "up:" + r, "down:" + l, "up:" + l, "dbl:" + l,
                                   "down:" + m, "up:" + m}));

    // Unassigned events are skipped; a handler that throws reaches the error route.
    icon.OnDown = nullptr;
    RouteRecorder route;
    icon.OnUp = [](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        throw std::runtime_error("menu failed");
    };
    EXPECT_NO_THROW(icon.AreaAction(TTaskBarIcon::Action::RightClick));
    EXPECT_EQ(route.routed.sender, &icon);
}

TEST(ShortcutKeys, ShortcutValuesBecomeTheKeysMenusAnswer) {
    EXPECT_EQ(keySequenceOf(0xC043), QKeySequence(QStringLiteral("Ctrl+Alt+C")));
    EXPECT_EQ(keySequenceOf(0xC056), QKeySequence(QStringLiteral("Ctrl+Alt+V")));
    EXPECT_EQ(keySequenceOf(0x2000 | 0x70), QKeySequence(QStringLiteral("Shift+F1")));
    EXPECT_EQ(keySequenceOf(0x4000 | 0x21), QKeySequence(QStringLiteral("Ctrl+PgUp")));
    EXPECT_EQ(keySequenceOf(0x4000 | 0x35), QKeySequence(QStringLiteral("Ctrl+5")));
    EXPECT_EQ(keySequenceOf(0x4000 | 0x65),
              QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_5)));
    EXPECT_TRUE(keySequenceOf(0).isEmpty());
    EXPECT_TRUE(keySequenceOf(0xC000).isEmpty());
}

} // namespace
