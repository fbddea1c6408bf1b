// The rules of picture saving: extensions, colour-depth names, the formats' contents, and what a
// failed save leaves behind.

#include "platform/core/Dib.h"
#include "shared/ArquivosImagem.h"
#include "shared/BmpFile.h"
#include "shared/Configuracoes.h"
#include "shared/CoresImagem.h"
#include "shared/GifFile.h"
#include "shared/JpegFile.h"
#include "shared/PictureError.h"
#include "shared/WmfFile.h"
#include "tests/pictures/PictureTestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace qdx;
using namespace qdx::test;

namespace {

TBitmap atDepth(const QImage& picture, TPixelFormat format) {
    TBitmap bitmap(picture);
    bitmap.SetPixelFormat(format);
    return bitmap;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

TEST(ExtensaoImagem, ComparesAtMostFiveCharactersFromTheLastDotExactly) {
    EXPECT_TRUE(ExtensaoImagemValida(QStringLiteral("/tmp/photo.jpg")));
    EXPECT_FALSE(ExtensaoImagemValida(QStringLiteral("/tmp/photo.JPG")));
    EXPECT_FALSE(ExtensaoImagemValida(QStringLiteral("/tmp/photo.Bmp")));
    for (const char* good : {"a.jpeg", "a.gif", "a.bmp", "a.wmf", "x.y.bmp"})
        EXPECT_TRUE(ExtensaoImagemValida(QString::fromLatin1(good))) << good;
    for (const char* bad : {"a.jpe", "a.png", "a.ico", "a.", "a.bm", "bmp"})
        EXPECT_FALSE(ExtensaoImagemValida(QString::fromLatin1(bad))) << bad;

    // Only five characters count, so ".jpeg2" reads ".jpeg".
    EXPECT_EQ(ExtensaoImagem(QStringLiteral("shot.jpeg2")), QStringLiteral(".jpeg"));
    EXPECT_TRUE(ExtensaoImagemValida(QStringLiteral("shot.jpeg2")));
    // The last dot may be in a folder's name.
    EXPECT_EQ(ExtensaoImagem(QStringLiteral("my.pics/photo")), QStringLiteral(".pics"));
    EXPECT_FALSE(ExtensaoImagemValida(QStringLiteral("my.pics/photo")));
    // No dot at all: the first five characters, which never match.
    EXPECT_EQ(ExtensaoImagem(QStringLiteral("photograph")), QStringLiteral("photo"));
}

TEST(CoresImagem, NamesAndPluralsAreComparedExactly) {
    ASSERT_EQ(NomesCores().size(), 6);
    EXPECT_EQ(NomesCores().first(), QStringLiteral("2 color"));
    EXPECT_EQ(FormatoCores(QStringLiteral("2 color")), pf1bit);
    EXPECT_EQ(FormatoCores(QStringLiteral("2 colors")), pf1bit);
    EXPECT_EQ(FormatoCores(QStringLiteral("16 colors")), pf4bit);
    EXPECT_EQ(FormatoCores(QStringLiteral("256 colors")), pf8bit);
    EXPECT_EQ(FormatoCores(QStringLiteral("Hight Color (16 bits)")), pf16bit);
    EXPECT_EQ(FormatoCores(QStringLiteral("True Color (24 bits)")), pf24bit);
    EXPECT_EQ(FormatoCores(QStringLiteral("(32 bits)")), pf32bit);
    for (const char* other : {"256 Colors", "256 colours", "256  color", "True Color (24 bits) ",
                              "Hight Colors (16 bits)", "High Color (16 bits)", ""})
        EXPECT_FALSE(FormatoCores(QString::fromLatin1(other))) << other;
}

TEST(CoresImagem, AplicarCoresImagemSetsTheDepthBeforeSizingOrLeavesIt) {
    const QString saved = numero_cores;
    QImage screen(4, 1, QImage::Format_RGB32);
    screen.setPixel(0, 0, qRgb(255, 255, 255));
    screen.setPixel(1, 0, qRgb(254, 255, 255));
    screen.setPixel(2, 0, qRgb(10, 200, 30));
    screen.setPixel(3, 0, qRgb(255, 255, 255));

    numero_cores = QStringLiteral("2 color");
    TBitmap mono;
    AplicarCoresImagem(mono);
    mono.Assign(screen);
    EXPECT_EQ(mono.PixelFormat(), pf1bit);
    EXPECT_EQ(mono.Image().pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(mono.Image().pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(mono.Image().pixel(2, 0), qRgb(0, 0, 0));
    EXPECT_EQ(mono.Image().pixel(3, 0), qRgb(255, 255, 255));

    numero_cores = QStringLiteral("256 colors");
    TBitmap plural;
    AplicarCoresImagem(plural);
    EXPECT_EQ(plural.PixelFormat(), pf8bit);

    numero_cores = QStringLiteral("256 COLORS");
    TBitmap other;
    AplicarCoresImagem(other);
    EXPECT_EQ(other.PixelFormat(), pfDevice);
    numero_cores = saved;
}

TEST(GifFile, WebPaletteLevelsAndTheIndexOfTheEdgeCase) {
    EXPECT_EQ(GifFile::webIndex(47, 48, 255), 11);
    EXPECT_EQ(GifFile::webIndex(0, 0, 0), 0);
    EXPECT_EQ(GifFile::webIndex(255, 255, 255), 215);
    EXPECT_EQ(GifFile::webIndex(0, 0, 47), 0);  // (47 + 3) / 51 = 0
    EXPECT_EQ(GifFile::webIndex(0, 0, 48), 1);  // (48 + 3) / 51 = 1
    EXPECT_EQ(GifFile::webIndex(0, 0, 251), 4); // (251 + 3) / 51 = 4
    EXPECT_EQ(GifFile::webIndex(0, 0, 252), 5); // (252 + 3) / 51 = 5
}

TEST(GifFile, TrueColourPicturesAreWrittenOnTheWebPalette) {
    QImage picture(3, 2, QImage::Format_RGB32);
    picture.fill(qRgb(100, 100, 100));
    picture.setPixel(0, 0, qRgb(47, 48, 255));
    picture.setPixel(1, 0, qRgb(255, 255, 255));
    for (TPixelFormat format : {pf1bit, pf16bit, pf24bit, pf32bit}) {
        const TBitmap source = atDepth(picture, format);
        const TBitmap back = GifFile::decode(bytesOf(GifFile::encode(source)));
        ASSERT_EQ(back.Image().format(), QImage::Format_Indexed8) << format;
        EXPECT_EQ(back.Image().colorCount(), 256) << format;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const QRgb c = source.Image().pixel(x, y);
                const int index = GifFile::webIndex(qRed(c), qGreen(c), qBlue(c));
                EXPECT_EQ(back.Image().pixelIndex(x, y), index) << format << " " << x << "," << y;
            }
    }
    const TBitmap truecolour = GifFile::decode(bytesOf(GifFile::encode(atDepth(picture, pf24bit))));
    EXPECT_EQ(truecolour.Image().pixelIndex(0, 0), 11);
    EXPECT_EQ(truecolour.Image().pixel(0, 0), qRgb(0, 51, 255));
}

TEST(GifFile, SixteenAnd256ColourPicturesKeepTheirPalette) {
    const QImage picture = testPicture(40, 30);
    for (TPixelFormat format : {pf4bit, pf8bit}) {
        const TBitmap source = atDepth(picture, format);
        const TBitmap back = GifFile::decode(bytesOf(GifFile::encode(source)));
        EXPECT_EQ(back.Image().colorTable(), source.Image().colorTable());
        EXPECT_EQ(back.PixelFormat(), format);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                ASSERT_EQ(back.Image().pixelIndex(x, y), source.Image().pixelIndex(x, y));
    }
}

// giflib masks each row it is given in place; the writer hands it copies, so the caller's
// picture keeps every pixel (here an index past a four-colour table, which the mask would cut).
TEST(GifFile, TheWriterLeavesTheCallersPixelsAlone) {
    QImage image(8, 2, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)});
    image.fill(1);
    image.scanLine(1)[3] = 6; // past the table: setPixel would refuse it
    const TBitmap source(image, pf4bit);
    const QImage before = source.Image().copy();
    GifFile::encode(source);
    EXPECT_EQ(source.Image(), before);
    EXPECT_EQ(source.Image().pixelIndex(3, 1), 6);
}

TEST(BmpFile, EveryDepthIsWrittenInItsOwnDepthAndReadBackExactly) {
    const QImage picture = testPicture(37, 21); // odd width: rows need padding at every depth
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        const TBitmap source = atDepth(picture, format);
        const QByteArray file = BmpFile::encode(source);
        BITMAPINFOHEADER header;
        std::memcpy(&header, file.constData() + 14, sizeof header);
        EXPECT_EQ(header.biBitCount, BmpFile::bitsFor(format)) << format;
        EXPECT_EQ(header.biCompression, format == pf16bit ? BI_BITFIELDS : BI_RGB) << format;
        const TBitmap back = BmpFile::decode(bytesOf(file));
        EXPECT_EQ(back.PixelFormat(), format) << format;
        EXPECT_EQ(maxChannelDifference(back.Image(), source.Image()), 0) << format;
    }
}

TEST(WmfFile, PlaceableHeaderAndEveryDepthPlayBackExactly) {
    const QImage picture = testPicture(33, 17);
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit}) {
        const TBitmap source = atDepth(picture, format);
        const QByteArray file = WmfFile::encode(source);
        const auto* bytes = reinterpret_cast<const uint8_t*>(file.constData());
        uint32_t key;
        std::memcpy(&key, bytes, 4);
        EXPECT_EQ(key, WmfFile::kPlaceableKey);
        uint16_t stored;
        std::memcpy(&stored, bytes + 20, 2);
        EXPECT_EQ(stored, WmfFile::checksum(bytes));
        const WmfFile::Header header = WmfFile::readHeader(bytesOf(file));
        EXPECT_EQ(header.bounds, QRect(0, 0, 33, 17));
        EXPECT_EQ(header.unitsPerInch, 96);
        const TBitmap back = WmfFile::decode(bytesOf(file));
        EXPECT_EQ(maxChannelDifference(back.Image(), source.Image()), 0) << format;
    }
    EXPECT_THROW(WmfFile::encode(TBitmap(QImage(32768, 1, QImage::Format_Mono))), PictureError);
}

TEST(JpegFile, BaselineThreeComponentsAndCloseToTheSource) {
    const QImage picture = testPicture(64, 48);
    for (TPixelFormat format : {pf1bit, pf8bit, pf16bit, pf24bit, pf32bit}) {
        const TBitmap source = atDepth(picture, format);
        const QByteArray file = JpegFile::encode(source);
        ASSERT_TRUE(file.startsWith("\xFF\xD8\xFF\xE0")) << "JFIF APP0 first";
        const qsizetype sof0 = file.indexOf("\xFF\xC0");
        ASSERT_GT(sof0, 0) << "baseline frame";
        EXPECT_EQ(file.indexOf("\xFF\xC2"), -1) << "not progressive";
        EXPECT_EQ(uint8_t(file[sof0 + 9]), 3) << "three components";
        const TBitmap back = JpegFile::decode(bytesOf(file));
        EXPECT_EQ(back.PixelFormat(), pf24bit);
        EXPECT_LT(meanChannelDifference(back.Image(),
                                        source.Image().convertToFormat(QImage::Format_RGB32)),
                  format == pf1bit ? 12.0 : 6.0)
            << format;
    }
}

TEST(SalvarImagem, WritesByExtensionAndReplacesAnExistingFile) {
    TempDir dir;
    const QString path = dir.file(QStringLiteral("shot.jpeg2"));
    SalvarImagem(TBitmap(testPicture(20, 10)), path);
    EXPECT_TRUE(readAll(path).startsWith("\xFF\xD8"));

    const QString bmp = dir.file(QStringLiteral("same.bmp"));
    QImage first(8, 8, QImage::Format_RGB32);
    first.fill(qRgb(255, 0, 0));
    QImage second(5, 3, QImage::Format_RGB32);
    second.fill(qRgb(0, 0, 255));
    SalvarImagem(TBitmap(first), bmp);
    SalvarImagem(TBitmap(second), bmp);
    const TBitmap back = CarregarImagem(bmp);
    EXPECT_EQ(back.Width(), 5);
    EXPECT_EQ(back.Image().pixel(2, 2), qRgb(0, 0, 255));
    // Nothing but the two pictures is left in the folder.
    EXPECT_EQ(filesIn(dir.path()),
              (QStringList{QStringLiteral("same.bmp"), QStringLiteral("shot.jpeg2")}));
}

TEST(SalvarImagem, FailuresNameTheFileAndTheReasonAndKeepWhatWasThere) {
    TempDir dir;
    const TBitmap picture(testPicture(16, 16));
    auto messageOf = [&](const QString& path) {
        try {
            SalvarImagem(picture, path);
        } catch (const PictureError& e) {
            return e.text();
        }
        return QString();
    };
    const QString missing = dir.file(QStringLiteral("no/such/folder/a.bmp"));
    const QString text = messageOf(missing);
    EXPECT_TRUE(text.contains(missing)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("No such file or directory"))) << text.toStdString();

    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("plain")), "x"));
    EXPECT_FALSE(messageOf(dir.file(QStringLiteral("plain/a.gif"))).isEmpty());
    EXPECT_TRUE(messageOf(dir.file(QStringLiteral("a.png"))).contains(QStringLiteral(".png")));
    EXPECT_FALSE(messageOf(dir.file(QStringLiteral("a.JPG"))).isEmpty());
    EXPECT_THROW(SalvarImagem(TBitmap(), dir.file(QStringLiteral("empty.bmp"))), PictureError);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("empty.bmp"))));

    // A read-only picture (no write permission bit) is not replaced, not even by root.
    const QString locked = dir.file(QStringLiteral("locked.bmp"));
    ASSERT_TRUE(writeAll(locked, "read-only picture"));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup));
    EXPECT_TRUE(messageOf(locked).contains(locked));
    EXPECT_EQ(readAll(locked), QByteArray("read-only picture"));
    EXPECT_EQ(QFile::permissions(locked) &
                  (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther),
              0);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(locked);

    // A full disk, made by a file-size limit: the old picture stays whole, no temporary is left.
    const QString target = dir.file(QStringLiteral("keep.bmp"));
    SalvarImagem(TBitmap(testPicture(8, 8)), target);
    const QByteArray before = readAll(target);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 100; // bytes: the 16 x 16 picture needs more
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const QString full = messageOf(target);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(full.contains(target)) << full.toStdString();
    EXPECT_EQ(readAll(target), before);
    EXPECT_EQ(filesIn(dir.path()),
              (QStringList{QStringLiteral("keep.bmp"), QStringLiteral("plain")}));
}

TEST(CarregarImagem, ChoosesTheReaderByExtensionInAnyCase) {
    TempDir dir;
    const TBitmap picture(testPicture(12, 9));
    SalvarImagem(picture, dir.file(QStringLiteral("a.bmp")));
    ASSERT_TRUE(
        QFile::rename(dir.file(QStringLiteral("a.bmp")), dir.file(QStringLiteral("A.BMP"))));
    EXPECT_EQ(CarregarImagem(dir.file(QStringLiteral("A.BMP"))).Width(), 12);

    // The content must match the extension: a bitmap named .gif is an error naming the file.
    SalvarImagem(picture, dir.file(QStringLiteral("b.bmp")));
    ASSERT_TRUE(
        QFile::rename(dir.file(QStringLiteral("b.bmp")), dir.file(QStringLiteral("b.gif"))));
    try {
        CarregarImagem(dir.file(QStringLiteral("b.gif")));
        ADD_FAILURE() << "a bitmap read as GIF";
    } catch (const PictureError& e) {
        EXPECT_TRUE(e.text().contains(dir.file(QStringLiteral("b.gif"))));
    }
    EXPECT_THROW(CarregarImagem(dir.file(QStringLiteral("missing.jpg"))), PictureError);
    EXPECT_THROW(CarregarImagem(dir.file(QStringLiteral("a.png"))), PictureError);
    TBitmap result(testPicture(2, 2));
    EXPECT_FALSE(CarregarImagem(dir.file(QStringLiteral("missing.wmf")), result));
    EXPECT_TRUE(result.Empty());
    EXPECT_TRUE(CarregarImagem(dir.file(QStringLiteral("A.BMP")), result));
}

} // namespace
