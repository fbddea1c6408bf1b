#include "avi/TAviCapture.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "tests/support/ScriptedPrompts.h"

#include "platform/core/Exception.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using namespace qdx::test;

// ffmpeg's frame i as a picture, for comparison with the engine's.
QImage ffmpegFrame(const QByteArray& frames, int width, int height, int index) {
    const qsizetype size = qsizetype(width) * height * 3;
    return QImage(reinterpret_cast<const uchar*>(frames.constData() + index * size), width, height,
                  width * 3, QImage::Format_RGB888)
        .convertToFormat(QImage::Format_RGB32);
}

class AviReading : public ::testing::Test {
protected:
    TempDir dir;
    ScriptedPrompts prompts;
    TAviCapture engine;
    int initBefore = aviFileInitCount();

    void TearDown() override {
        engine.CloseFilm();
        // Every operation balances its use of the AVI layer.
        EXPECT_EQ(aviFileInitCount(), initBefore);
    }
};

TEST_F(AviReading, FramesComeOutAsFfmpegDecodesThem) {
    FilmRecipe recipe;
    recipe.frames = 6;
    const QString film = makeFilm(dir, QStringLiteral("raw.avi"), recipe);
    ASSERT_TRUE(engine.OpenFilm(film));
    const QByteArray reference = joined(ffmpegPictures(film, recipe.width, recipe.height));
    for (int i : {0, 5, 2, 3}) { // forwards, backwards
        std::unique_ptr<TBitmap> frame = engine.GetFrame(i);
        ASSERT_TRUE(frame) << i;
        EXPECT_EQ(frame->PixelFormat(), pfDevice);
        ASSERT_EQ(frame->Width(), recipe.width);
        ASSERT_EQ(frame->Height(), recipe.height);
        EXPECT_EQ(frame->Image(), ffmpegFrame(reference, recipe.width, recipe.height, i)) << i;
    }
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(AviReading, AnEightBitFilmIsDrawnFromItsPixelsNotItsColourTable) {
    FilmRecipe recipe;
    recipe.frames = 3;
    recipe.pixelFormat = QStringLiteral("pal8");
    const QString film = makeFilm(dir, QStringLiteral("pal8.avi"), recipe);
    ASSERT_TRUE(engine.OpenFilm(film));
    const QByteArray reference = joined(ffmpegPictures(film, recipe.width, recipe.height));
    std::unique_ptr<TBitmap> frame = engine.GetFrame(1);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Image(), ffmpegFrame(reference, recipe.width, recipe.height, 1));
}

TEST_F(AviReading, AFetchPastTheEndClosesTheReader) {
    EXPECT_FALSE(engine.GetFrame(0)) << "no film open";
    engine.CloseFilm();
    engine.CloseFilm(); // twice, on a new component: nothing happens
    const QString film = makeFilm(dir, QStringLiteral("f.avi"), FilmRecipe{});
    ASSERT_TRUE(engine.OpenFilm(film));
    EXPECT_FALSE(engine.GetFrame(10));
    EXPECT_FALSE(engine.GetFrame(0)) << "the reader stays closed until the next OpenFilm";
    ASSERT_TRUE(engine.OpenFilm(film));
    EXPECT_TRUE(engine.GetFrame(9));
}

TEST_F(AviReading, OpenErrorsAreShownAndLeaveTheReaderClosed) {
    const QString text = dir.file(QStringLiteral("notes.avi"));
    ASSERT_TRUE(writeAll(text, QByteArray("these are not the frames you are looking for\n")));
    EXPECT_FALSE(engine.OpenFilm(text));
    ASSERT_EQ(prompts.texts(QStringLiteral("error")),
              QStringList{QStringLiteral("The file couldn't be read")});
    EXPECT_EQ(prompts.asked.back().caption, QStringLiteral("Quadrix"));
    EXPECT_FALSE(engine.GetFrame(0));

    EXPECT_FALSE(engine.OpenFilm(dir.file(QStringLiteral("missing.avi"))));
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).last(),
              QStringLiteral("A disk error occurred while opening the file."));
}

TEST_F(AviReading, FileInformationAndFrameRange) {
    FilmRecipe recipe;
    recipe.width = 16;
    recipe.height = 8;
    recipe.frames = 250;
    const QString film = makeFilm(dir, QStringLiteral("long.avi"), recipe);
    ASSERT_TRUE(engine.ReadFileInfo(film));
    EXPECT_EQ(engine.Frames, 250);
    EXPECT_EQ(engine.WidthResolution, 16);
    EXPECT_EQ(engine.HeightResolution, 8);
    EXPECT_FALSE(engine.FileType.isEmpty());
    int first = -1;
    int last = -1;
    ASSERT_TRUE(engine.GetFrameRange(film, first, last));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 249);

    // A missing film changes none of the four properties and shows nothing.
    EXPECT_FALSE(engine.ReadFileInfo(dir.file(QStringLiteral("missing.avi"))));
    EXPECT_EQ(engine.Frames, 250);
    EXPECT_EQ(engine.WidthResolution, 16);
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(AviReading, SoundIsReportedForFilmsThatHaveIt) {
    FilmRecipe recipe;
    recipe.sound = true;
    const QString withSound = makeFilm(dir, QStringLiteral("sound.avi"), recipe);
    const QString silent = makeFilm(dir, QStringLiteral("silent.avi"), FilmRecipe{});
    EXPECT_TRUE(engine.HasSound(withSound));
    EXPECT_FALSE(engine.HasSound(silent));
    EXPECT_FALSE(engine.HasSound(dir.file(QStringLiteral("missing.avi"))));
    // A film that cannot be opened for writing keeps its sound. File permissions do not stop
    // root (which CI runs as), so the film lies in a read-only mount, which stops everyone.
    const QString mount = dir.file(QStringLiteral("read-only"));
    ASSERT_TRUE(QDir().mkpath(mount));
    // The mount goes however the test ends, a failed check included, before the folder does.
    struct Unmount {
        QString path;
        bool bound = false;
        ~Unmount() {
            if (bound)
                run(QStringLiteral("umount"), {path});
        }
    } unmount{mount};
    unmount.bound =
        run(QStringLiteral("mount"), {QStringLiteral("--bind"), dir.path(), mount}).exitCode == 0;
    const bool mounted =
        unmount.bound && run(QStringLiteral("mount"),
                             {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), mount})
                                 .exitCode == 0;
    const QString readOnly = mount + QStringLiteral("/sound.avi");
    if (!mounted) {
        // Without the right to mount: an ordinary user, whom the permissions do stop.
        if (unmount.bound)
            run(QStringLiteral("umount"), {mount});
        unmount.bound = false;
        if (::geteuid() == 0)
            GTEST_SKIP() << "root without the right to mount: no film it cannot write";
        ASSERT_TRUE(QFile::setPermissions(withSound, QFile::ReadOwner | QFile::ReadGroup));
    }
    const QString film = mounted ? readOnly : withSound;
    {
        QFile probe(film);
        ASSERT_FALSE(probe.open(QIODevice::ReadWrite)) << "the film must not be writable";
    }
    EXPECT_TRUE(engine.HasSound(film));
}

TEST(AviDib, RowsAndSizes) {
    EXPECT_EQ(TAviCapture::RowBytes(101, 24, 32), 304);
    EXPECT_EQ(TAviCapture::RowBytes(100, 1, 32), 16);
    TAviCapture engine;
    TBitmap bitmap(QImage(10, 3, QImage::Format_RGB32));
    int header = 0;
    int image = 0;
    engine.MeasureDib(bitmap, pf8bit, header, image);
    EXPECT_EQ(header, 1064);
    EXPECT_EQ(image, 12 * 3);
    engine.MeasureDib(bitmap, pf4bit, header, image);
    EXPECT_EQ(header, 104);
    engine.MeasureDib(bitmap, pf1bit, header, image);
    EXPECT_EQ(header, 48);
    EXPECT_EQ(image, 4 * 3);
    engine.MeasureDib(bitmap, pf24bit, header, image);
    EXPECT_EQ(header, 40);
    EXPECT_EQ(image, 32 * 3);
    engine.MeasureDib(bitmap, pfDevice, header, image);
    EXPECT_EQ(image, 40 * 3);
}

TEST(AviDib, BadBitmapsAndFormatsRaise) {
    TAviCapture engine;
    BITMAPINFOHEADER header;
    try {
        engine.FillDibHeader(TBitmap(), header, pf24bit);
        FAIL() << "an empty bitmap must raise";
    } catch (const qdx::Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid bitmap"));
    }
    try {
        engine.FillDibHeader(TBitmap(QImage(2, 2, QImage::Format_RGB32)), header, pfCustom);
        FAIL() << "pfCustom must raise";
    } catch (const qdx::Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Formato de pixel inválido."));
    }
}

TEST(AviDib, PixelsAreReadBottomUpAtTheRequestedDepth) {
    TAviCapture engine;
    QImage image(2, 2, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(255, 0, 0)); // top left
    image.setPixel(1, 0, qRgb(0, 255, 0));
    image.setPixel(0, 1, qRgb(0, 0, 255)); // bottom left
    image.setPixel(1, 1, qRgb(255, 255, 255));
    const TBitmap bitmap(image);
    std::vector<uint8_t> header(40);
    std::vector<uint8_t> bits(16);
    ASSERT_TRUE(engine.ReadDibBits(bitmap, nullptr, pf24bit, bits.data(), header.data()));
    BITMAPINFOHEADER h;
    std::memcpy(&h, header.data(), 40);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biSizeImage, 16u);
    const std::vector<uint8_t> expected = {255, 0, 0,   255, 255, 255, 0, 0,  // bottom row (B,G,R)
                                           0,   0, 255, 0,   255, 0,   0, 0}; // top row
    EXPECT_EQ(bits, expected);

    std::vector<uint8_t> header1(48);
    std::vector<uint8_t> bits1(8);
    ASSERT_TRUE(engine.ReadDibBits(bitmap, nullptr, pf1bit, bits1.data(), header1.data()));
    EXPECT_EQ(bits1[0], 0x40) << "only the white pixel is set, bottom row first";
    EXPECT_EQ(bits1[4], 0x00);
}

TEST(AviTempNames, AreFreshAndPlain) {
    const QString a = TAviCapture::NewTempName();
    const QString b = TAviCapture::NewTempName();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.size(), 36);
    EXPECT_TRUE(a.startsWith(QStringLiteral("tmp_")));
    EXPECT_FALSE(a.contains(QLatin1Char('{')) || a.contains(QLatin1Char('}')) ||
                 a.contains(QLatin1Char('-')));
    EXPECT_EQ(a.mid(4), a.mid(4).toUpper());
}

} // namespace
