// The built Quadrix under a private X server, driven with xdotool as a user would: the capture hot
// key while another client has the focus, a key another client already holds, the clean-up of
// temporary files, the skin kept on close and not on Exit, and hiding into the notification area.

#include "shared/SoftwareKey.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XvfbServer.h"
#include "tests/x11/XClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

using namespace qdx::test;

namespace {

constexpr uint32_t kKeysymC = 0x63;

bool waitUntil(const std::function<bool()>& done, int ms = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(50);
    }
    return true;
}

QString xdotool(const QStringList& arguments) {
    const ProcessResult result = run(QStringLiteral("xdotool"), arguments, 20000);
    return QString::fromUtf8(result.out).trimmed();
}

// Presses keys one after the other ("alt+f m": Alt+F, then M).
void keys(const QString& sequence) {
    const ProcessResult result =
        run(QStringLiteral("xdotool"),
            QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")} +
                sequence.split(QLatin1Char(' ')));
    ASSERT_EQ(result.exitCode, 0) << result.err.constData();
}

// A file that exists and has stopped growing.
bool complete(const QString& path) {
    const qint64 size = QFileInfo(path).size();
    if (size <= 0)
        return false;
    QThread::msleep(100);
    return QFileInfo(path).size() == size;
}

// One run of the built Quadrix with its own application folder and per-user folder.
class QuadrixRun {
public:
    explicit QuadrixRun(const TempDir& home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUADRIX_HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.file(QStringLiteral("config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("QUADRIX_BANNER_HOST"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(builtProgram(QStringLiteral("Quadrix")), {});
        m_process.waitForStarted(10000);
    }
    ~QuadrixRun() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess& process() { return m_process; }
    // The main window, once it is on the screen (empty when it does not come).
    QString waitForWindow(int ms = 20000) {
        QString id;
        waitUntil(
            [&] {
                id = visibleWindow();
                return !id.isEmpty() || m_process.state() == QProcess::NotRunning;
            },
            ms);
        return id;
    }
    static QString visibleWindow() {
        return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                        QStringLiteral("--name"), QStringLiteral("^Quadrix$")})
            .section(QLatin1Char('\n'), 0, 0);
    }
    bool waitForEnd(int ms = 10000) {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms);
    }

private:
    QProcess m_process;
};

// Asks a window to close, as a window manager's close box does (WM_DELETE_WINDOW).
void closeWindow(XClient& client, xcb_window_t window) {
    xcb_connection_t* c = client.get();
    const auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return result;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

class QuadrixEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "xprop"})
            if (!haveTool(QString::fromLatin1(tool)))
                GTEST_SKIP() << tool << " is missing";
        server = std::make_unique<XvfbServer>(800, 600);
        ASSERT_TRUE(server->running());
        client = std::make_unique<XClient>();
        ASSERT_TRUE(client->connected());
    }
    void TearDown() override {
        client.reset();
        server.reset();
    }
    int storedSkin() {
        qputenv("XDG_CONFIG_HOME", home.file(QStringLiteral("config")).toLocal8Bit());
        return LerChaveSoftware(QStringLiteral("Quadrix"), QStringLiteral("SKIN_SELECIONADA"),
                                TTipoChave::tcInteiro, -1)
            .toInt();
    }

    TempDir home;
    std::unique_ptr<XvfbServer> server;
    std::unique_ptr<XClient> client;
};

TEST_F(QuadrixEndToEnd, TheCaptureHotKeyCopiesTheScreenWhileAnotherClientHasTheFocus) {
    const QString leftover = QStringLiteral("tmp_00112233445566778899AABBCCDDEEFF.avi");
    ASSERT_TRUE(writeAll(home.file(leftover), "x"));
    ASSERT_TRUE(writeAll(home.file(QStringLiteral("my_tmp_notes.txt")), "x"));
    QuadrixRun quadrix(home);
    const QString window = quadrix.waitForWindow();
    ASSERT_FALSE(window.isEmpty()) << "Quadrix did not show its window";
    // The engine's leftover work files were removed at start; other names stay.
    EXPECT_FALSE(QFile::exists(home.file(leftover)));
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("my_tmp_notes.txt"))));
    // No taskbar button.
    const ProcessResult state = run(
        QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_STATE")});
    EXPECT_TRUE(state.out.contains("_NET_WM_STATE_SKIP_TASKBAR")) << state.out.constData();

    // Another client's window, on top and with the keyboard focus.
    const xcb_window_t other = client->window(QRect(560, 420, 160, 100), qRgb(255, 0, 0));
    client->focus(other);
    client->sync();
    keys(QStringLiteral("ctrl+alt+c"));
    const QString first = home.file(QStringLiteral("Image1.bmp"));
    ASSERT_TRUE(waitUntil([&] { return complete(first); })) << "no Image1.bmp";
    const QImage picture(first);
    ASSERT_EQ(picture.size(), QSize(800, 600));
    EXPECT_EQ(QColor(picture.pixel(640, 470)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(picture.pixel(561, 421)), QColor(255, 0, 0));
    EXPECT_NE(QColor(picture.pixel(550, 410)), QColor(255, 0, 0));
    // A 24-bit file, as the default colour setting asks.
    EXPECT_EQ(readAll(first).mid(28, 2), QByteArray("\x18\x00", 2));

    keys(QStringLiteral("ctrl+alt+c"));
    EXPECT_TRUE(waitUntil([&] { return complete(home.file(QStringLiteral("Image2.bmp"))); }));
    EXPECT_EQ(quadrix.process().state(), QProcess::Running);
}

TEST_F(QuadrixEndToEnd, AKeyAnotherClientHoldsLeavesTheProgramWithoutThatHotKey) {
    ASSERT_TRUE(client->grabKey(kKeysymC, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    QuadrixRun quadrix(home);
    ASSERT_FALSE(quadrix.waitForWindow().isEmpty());
    keys(QStringLiteral("ctrl+alt+c"));
    QThread::msleep(1500);
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("Image1.bmp"))));
    EXPECT_EQ(quadrix.process().state(), QProcess::Running);
    // Once the other client lets go, the key still does nothing here: it was never registered.
    client->ungrabKey(kKeysymC, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
    client->sync();
    keys(QStringLiteral("ctrl+alt+c"));
    QThread::msleep(1000);
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("Image1.bmp"))));
    EXPECT_EQ(quadrix.process().state(), QProcess::Running);
}

TEST_F(QuadrixEndToEnd, TheSkinIsStoredWhenTheWindowClosesAndNotOnExit) {
    {
        QuadrixRun quadrix(home);
        const QString window = quadrix.waitForWindow();
        ASSERT_FALSE(window.isEmpty());
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        keys(QStringLiteral("alt+s v"));
        keys(QStringLiteral("alt+f Up Return"));
        ASSERT_TRUE(quadrix.waitForEnd()) << "Exit did not end the program";
        EXPECT_EQ(quadrix.process().exitCode(), 0);
    }
    EXPECT_EQ(storedSkin(), -1);
    {
        QuadrixRun quadrix(home);
        const QString window = quadrix.waitForWindow();
        ASSERT_FALSE(window.isEmpty());
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        keys(QStringLiteral("alt+s v"));
        ASSERT_TRUE(
            writeAll(home.file(QStringLiteral("tmp_0000000000000000000000000000000A.wav")), "x"));
        QThread::msleep(300);
        closeWindow(*client, window.toUInt());
        ASSERT_TRUE(quadrix.waitForEnd()) << "closing the window did not end the program";
    }
    EXPECT_EQ(storedSkin(), 2);
    EXPECT_FALSE(
        QFile::exists(home.file(QStringLiteral("tmp_0000000000000000000000000000000A.wav"))));
}

TEST_F(QuadrixEndToEnd, MinimisingHidesIntoTheTrayWhenThereIsOneAndOnlyThen) {
    {
        // No notification area: the window stays on the screen.
        QuadrixRun quadrix(home);
        const QString window = quadrix.waitForWindow();
        ASSERT_FALSE(window.isEmpty());
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        keys(QStringLiteral("alt+f m"));
        QThread::msleep(800);
        EXPECT_EQ(QuadrixRun::visibleWindow(), window);
    }
    if (!haveTool(QStringLiteral("trayer")))
        GTEST_SKIP() << "trayer (a notification area) is missing";
    QProcess tray;
    tray.start(QStringLiteral("trayer"),
               {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                QStringLiteral("left"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                QStringLiteral("--width"), QStringLiteral("96"), QStringLiteral("--heighttype"),
                QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("32"),
                QStringLiteral("--SetDockType"), QStringLiteral("false")});
    ASSERT_TRUE(tray.waitForStarted());
    QThread::msleep(800);
    {
        QuadrixRun quadrix(home);
        const QString window = quadrix.waitForWindow();
        ASSERT_FALSE(window.isEmpty());
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        keys(QStringLiteral("alt+f m"));
        EXPECT_TRUE(waitUntil([] { return QuadrixRun::visibleWindow().isEmpty(); }, 5000))
            << "the window was not hidden";
        // The icon sits at the start of the tray along the bottom edge: a double click brings the
        // window back.
        QThread::msleep(500);
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QStringLiteral("12"),
                 QStringLiteral("588")});
        xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                 QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
        EXPECT_TRUE(waitUntil([] { return !QuadrixRun::visibleWindow().isEmpty(); }, 5000))
            << "the tray icon did not bring the window back";
        EXPECT_EQ(quadrix.process().state(), QProcess::Running);
    }
    tray.kill();
    tray.waitForFinished(3000);
}

} // namespace
