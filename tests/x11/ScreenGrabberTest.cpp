#include "platform/x11/ScreenGrabber.h"
#include "platform/x11/NoDisplayError.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XvfbServer.h"
#include "tests/x11/XClient.h"

#include <gtest/gtest.h>

#include <memory>

using qdx::test::XClient;
using qdx::test::XvfbServer;
using qdx::x11::ScreenGrabber;

namespace {

constexpr QRgb kBackground = qRgb(40, 80, 120);
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kGreen = qRgb(0, 255, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kYellow = qRgb(255, 255, 0);

QRgb at(const TBitmap& bitmap, int x, int y) {
    return bitmap.Image().pixel(x, y) | 0xFF000000u;
}

void movePointer(int x, int y) {
    const auto result =
        qdx::test::run(QStringLiteral("xdotool"),
                       {QStringLiteral("mousemove"), QString::number(x), QString::number(y)});
    ASSERT_EQ(result.exitCode, 0) << result.err.constData();
}

struct Scene {
    QRect rect;
    QRgb colour;
};

// Coloured windows over a background that fills the screen; the last one touches the bottom
// right corner.
const Scene kScene[] = {{QRect(10, 20, 100, 50), kRed},
                        {QRect(300, 200, 40, 30), kGreen},
                        {QRect(200, 100, 50, 50), kWhite},
                        {QRect(600, 440, 40, 40), kBlue}};

class ScreenGrabberTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new XvfbServer(640, 480, 24); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(server->running());
        client = std::make_unique<XClient>();
        ASSERT_TRUE(client->connected());
        background = client->window(QRect(0, 0, 640, 480), kBackground);
        for (const Scene& s : kScene)
            client->window(s.rect, s.colour);
    }

    // Every window of the scene has its colour inside and the background just outside.
    static void expectScene(const TBitmap& bitmap) {
        for (const Scene& s : kScene) {
            SCOPED_TRACE(testing::Message() << "window at " << s.rect.x() << "," << s.rect.y());
            EXPECT_EQ(at(bitmap, s.rect.left(), s.rect.top()), s.colour);
            EXPECT_EQ(at(bitmap, s.rect.right(), s.rect.bottom()), s.colour);
            EXPECT_EQ(at(bitmap, s.rect.center().x(), s.rect.center().y()), s.colour);
            EXPECT_EQ(at(bitmap, s.rect.left() - 1, s.rect.top()), kBackground);
            EXPECT_EQ(at(bitmap, s.rect.left(), s.rect.top() - 1), kBackground);
        }
    }

    static XvfbServer* server;
    std::unique_ptr<XClient> client;
    xcb_window_t background = 0;
};

XvfbServer* ScreenGrabberTest::server = nullptr;

TEST_F(ScreenGrabberTest, CopiesTheWindowsColoursToTheirPlacesThroughEitherTransfer) {
    ScreenGrabber shared(ScreenGrabber::Pointer::Left);
    EXPECT_TRUE(shared.sharedMemory());
    ScreenGrabber socket(ScreenGrabber::Pointer::Left, ScreenGrabber::Transfer::Socket);
    EXPECT_FALSE(socket.sharedMemory());
    for (ScreenGrabber* grabber : {&shared, &socket}) {
        EXPECT_EQ(grabber->size(), QSize(640, 480));
        EXPECT_EQ(grabber->area(), QRect(0, 0, 640, 480));
        const TBitmap true24 = grabber->grab(pf24bit);
        ASSERT_EQ(true24.PixelFormat(), pf24bit);
        ASSERT_EQ(true24.Image().format(), QImage::Format_BGR888);
        ASSERT_EQ(true24.Image().size(), QSize(640, 480));
        expectScene(true24);
        const TBitmap true32 = grabber->grab(pf32bit);
        ASSERT_EQ(true32.PixelFormat(), pf32bit);
        ASSERT_EQ(true32.Image().format(), QImage::Format_RGB32);
        expectScene(true32);
        // 32-bit pictures are opaque whatever the server leaves in the pad byte.
        EXPECT_EQ(qAlpha(true32.Image().pixel(5, 5)), 255);
    }
    EXPECT_EQ(shared.grab(pf32bit).Image(), socket.grab(pf32bit).Image());
}

TEST_F(ScreenGrabberTest, ConvertsToEveryDepthByTheBitmapRules) {
    ScreenGrabber grabber(ScreenGrabber::Pointer::Left);
    const TBitmap reference = grabber.grab(pf32bit);
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit}) {
        SCOPED_TRACE(int(format));
        const TBitmap bitmap = grabber.grab(format);
        EXPECT_EQ(bitmap.PixelFormat(), format);
        EXPECT_EQ(bitmap.Image(), TBitmap::convertedTo(reference.Image(), format));
    }
    // Two colours: only the pure white window stays white.
    const TBitmap mono = grabber.grab(pf1bit);
    EXPECT_EQ(at(mono, 210, 110), kWhite);
    EXPECT_EQ(at(mono, 20, 30), qRgb(0, 0, 0));
    EXPECT_EQ(at(mono, 5, 5), qRgb(0, 0, 0));
    // The screen's own depth: a 32-bit picture.
    for (TPixelFormat format : {pfDevice, pfCustom}) {
        const TBitmap device = grabber.grab(format);
        EXPECT_EQ(device.PixelFormat(), pfDevice);
        EXPECT_EQ(device.Image(), reference.Image());
    }
}

TEST_F(ScreenGrabberTest, AHeldPictureIsNeverOverwrittenAndAReleasedOneIsReused) {
    ScreenGrabber grabber(ScreenGrabber::Pointer::Left);
    TBitmap first = grabber.grab(pf24bit);
    const QImage kept = first.Image();
    client->destroy(background);
    client->window(QRect(0, 0, 640, 480), kGreen);
    TBitmap second = grabber.grab(pf24bit);
    EXPECT_EQ(at(second, 5, 5), kGreen);
    EXPECT_EQ(at(first, 5, 5), kBackground);
    EXPECT_EQ(kept.pixel(5, 5) | 0xFF000000u, kBackground);

    const uchar* buffer = second.Image().constBits();
    second = TBitmap();
    const TBitmap third = grabber.grab(pf24bit);
    EXPECT_EQ(third.Image().constBits(), buffer);
    EXPECT_EQ(at(third, 5, 5), kGreen);
}

TEST_F(ScreenGrabberTest, CopiesThePrimaryMonitorOnly) {
    ASSERT_TRUE(client->addMonitor("QDX-PRIMARY", QRect(100, 60, 320, 200), true));
    {
        ScreenGrabber grabber(ScreenGrabber::Pointer::Left);
        EXPECT_EQ(grabber.area(), QRect(100, 60, 320, 200));
        EXPECT_EQ(grabber.size(), QSize(320, 200));
        const TBitmap bitmap = grabber.grab(pf32bit);
        ASSERT_EQ(bitmap.Image().size(), QSize(320, 200));
        // The white window (200,100)-(249,149) lies at (100,40) in monitor coordinates.
        EXPECT_EQ(at(bitmap, 100, 40), kWhite);
        EXPECT_EQ(at(bitmap, 99, 40), kBackground);
        EXPECT_EQ(at(bitmap, 149, 89), kWhite);
        EXPECT_EQ(at(bitmap, 0, 0), kRed); // the red window ends at (109, 69)
        EXPECT_EQ(at(bitmap, 10, 10), kBackground);

        // The grabber follows a change of the configuration.
        client->removeMonitor("QDX-PRIMARY");
        ASSERT_TRUE(client->addMonitor("QDX-OTHER", QRect(300, 200, 100, 80), true));
        const TBitmap moved = grabber.grab(pf32bit);
        EXPECT_EQ(grabber.area(), QRect(300, 200, 100, 80));
        ASSERT_EQ(moved.Image().size(), QSize(100, 80));
        EXPECT_EQ(at(moved, 0, 0), kGreen);
        client->removeMonitor("QDX-OTHER");
    }
    // A monitor reaching beyond the root window is cut at its edge.
    ASSERT_TRUE(client->addMonitor("QDX-WIDE", QRect(600, 400, 200, 200), true));
    ScreenGrabber clipped(ScreenGrabber::Pointer::Left);
    EXPECT_EQ(clipped.area(), QRect(600, 400, 40, 80));
    EXPECT_EQ(at(clipped.grab(pf24bit), 0, 40), kBlue);
    client->removeMonitor("QDX-WIDE");
}

TEST_F(ScreenGrabberTest, DrawsThePointerAtItsHotSpotAndRealSize) {
    // 16 x 16 pixels: red left half, yellow right half; hot spot at (4, 6).
    const xcb_cursor_t arrow =
        client->cursor(QSize(16, 16), QPoint(4, 6), QRect(0, 0, 8, 16), kRed, kYellow);
    // Shown over the root window, the pointer looks the same over every window of the scene.
    client->showCursor(client->root(), arrow);
    movePointer(400, 300);

    ScreenGrabber plain(ScreenGrabber::Pointer::Left);
    ScreenGrabber grabber;
    const TBitmap without = plain.grab(pf32bit);
    const TBitmap with = grabber.grab(pf32bit);
    const QPoint corner(400 - 4, 300 - 6);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(at(with, corner.x() + x, corner.y() + y), x < 8 ? kRed : kYellow)
                << x << "," << y;
            ASSERT_EQ(at(without, corner.x() + x, corner.y() + y), kBackground) << x << "," << y;
        }
    // Nothing beyond the pointer's own size.
    EXPECT_EQ(at(with, corner.x() - 1, corner.y()), kBackground);
    EXPECT_EQ(at(with, corner.x() + 16, corner.y()), kBackground);
    EXPECT_EQ(at(with, corner.x(), corner.y() - 1), kBackground);
    EXPECT_EQ(at(with, corner.x(), corner.y() + 16), kBackground);
    // The same place in 24 bits.
    EXPECT_EQ(at(grabber.grab(pf24bit), 400, 300), kRed);

    // At the edges the pointer is cut off, not shifted.
    movePointer(1, 2); // its top-left corner lies at (-3, -4)
    const TBitmap topLeft = grabber.grab(pf24bit);
    EXPECT_EQ(at(topLeft, 0, 0), kRed);      // pointer pixel (3, 4)
    EXPECT_EQ(at(topLeft, 4, 0), kRed);      // (7, 4)
    EXPECT_EQ(at(topLeft, 5, 0), kYellow);   // (8, 4)
    EXPECT_EQ(at(topLeft, 12, 11), kYellow); // (15, 15)
    EXPECT_EQ(at(topLeft, 13, 0), kBackground);
    EXPECT_EQ(at(topLeft, 0, 12), kBackground);
    movePointer(639, 479);
    const TBitmap bottomRight = grabber.grab(pf24bit);
    EXPECT_EQ(at(bottomRight, 639, 479), kRed); // the hot spot, pointer pixel (4, 6)
    EXPECT_EQ(at(bottomRight, 635, 473), kRed); // pointer pixel (0, 0)
    EXPECT_EQ(at(bottomRight, 634, 473), kBlue);
}

TEST_F(ScreenGrabberTest, APointerChangeReachesTheNextGrab) {
    const xcb_cursor_t first =
        client->cursor(QSize(16, 16), QPoint(0, 0), QRect(0, 0, 16, 16), kRed, kRed);
    client->showCursor(background, first);
    movePointer(420, 320);
    ScreenGrabber grabber;
    EXPECT_EQ(at(grabber.grab(pf32bit), 430, 330), kRed);
    EXPECT_EQ(at(grabber.grab(pf32bit), 440, 340), kBackground);

    // 24 x 10, hot spot at its right end: the pointer now lies left of the position.
    const xcb_cursor_t second =
        client->cursor(QSize(24, 10), QPoint(23, 0), QRect(0, 0, 24, 10), kWhite, kWhite);
    client->showCursor(background, second);
    const TBitmap changed = grabber.grab(pf32bit);
    EXPECT_EQ(at(changed, 397, 320), kWhite);
    EXPECT_EQ(at(changed, 420, 329), kWhite);
    EXPECT_EQ(at(changed, 430, 330), kBackground);
    EXPECT_EQ(at(changed, 396, 320), kBackground);
}

TEST_F(ScreenGrabberTest, WithoutADisplayTheErrorSaysSo) {
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    EXPECT_THROW(ScreenGrabber{}, qdx::x11::NoDisplayError);
    qputenv("DISPLAY", ":4093");
    try {
        ScreenGrabber grabber;
        ADD_FAILURE() << "no error for a display without a server";
    } catch (const qdx::x11::NoDisplayError& error) {
        EXPECT_TRUE(error.Message().contains(QStringLiteral(":4093"))) << error.what();
    }
    qputenv("DISPLAY", display);
}

// A server that goes away while a grabber uses it gives an error, not a crash.
TEST(ScreenGrabberLostServer, GrabsFailWithAnError) {
    auto server = std::make_unique<XvfbServer>(320, 240, 24);
    ASSERT_TRUE(server->running());
    ScreenGrabber grabber;
    EXPECT_EQ(grabber.grab(pf24bit).Image().size(), QSize(320, 240));
    server.reset();
    EXPECT_THROW(grabber.grab(pf24bit), qdx::x11::X11Error);
    EXPECT_THROW(grabber.grab(pf24bit), qdx::x11::X11Error);
}

// A 16-bit (5-6-5) screen.
TEST(ScreenGrabberSixteenBits, ReadsTheScreensPixelLayout) {
    XvfbServer server(320, 240, 16);
    ASSERT_TRUE(server.running());
    XClient client;
    ASSERT_TRUE(client.connected());
    const xcb_window_t back = client.window(QRect(0, 0, 320, 240), kBlue);
    client.window(QRect(10, 10, 20, 20), kRed);
    client.window(QRect(40, 10, 20, 20), kWhite);
    client.window(QRect(70, 10, 20, 20), qRgb(132, 130, 132)); // exact in 5-6-5
    client.showCursor(
        back, client.cursor(QSize(8, 8), QPoint(0, 0), QRect(0, 0, 8, 8), kYellow, kYellow));
    movePointer(200, 200);
    ScreenGrabber grabber;
    for (TPixelFormat format : {pf24bit, pf32bit}) {
        const TBitmap bitmap = grabber.grab(format);
        EXPECT_EQ(at(bitmap, 15, 15), kRed);
        EXPECT_EQ(at(bitmap, 45, 15), kWhite);
        EXPECT_EQ(at(bitmap, 75, 15), qRgb(132, 130, 132));
        EXPECT_EQ(at(bitmap, 5, 5), kBlue);
        EXPECT_EQ(at(bitmap, 203, 203), kYellow);
    }
    // Back to 16 bits, the pixels are the server's own.
    const TBitmap sixteen = grabber.grab(pf16bit);
    EXPECT_EQ(reinterpret_cast<const quint16*>(sixteen.Image().constScanLine(15))[75],
              quint16((16 << 11) | (32 << 5) | 16));
}

} // namespace
