// Files written here read by Pillow, ImageMagick and libwmf; files they write read here.

#include "platform/core/Dib.h"
#include "platform/core/Palettes.h"
#include "shared/ArquivosImagem.h"
#include "shared/BmpFile.h"
#include "shared/CoresImagem.h"
#include "shared/GifFile.h"
#include "tests/pictures/PictureTestSupport.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace qdx;
using namespace qdx::test;

namespace {

class PicturePeers : public ::testing::Test {
protected:
    void SetUp() override {
        if (pillowPython().isEmpty() || !haveTool(QStringLiteral("identify")) ||
            !haveTool(QStringLiteral("convert")))
            GTEST_SKIP() << "needs Pillow (python3-pil) and ImageMagick";
    }
    QString file(const QString& name) const { return m_dir.file(name); }
    // ImageMagick's count of differing pixels between a file and a picture of our own.
    QString imageMagickDifference(const QString& path, const QImage& expected) {
        const QString reference = file(QStringLiteral("expected.png"));
        expected.save(reference);
        const ProcessResult r =
            run(QStringLiteral("compare"), {QStringLiteral("-metric"), QStringLiteral("AE"), path,
                                            reference, QStringLiteral("null:")});
        return QString::fromUtf8(r.err).trimmed();
    }
    // Pillow's view of a file: format, mode, palette entries, progressive flag.
    QStringList pillowDescription(const QString& path) {
        const ProcessResult r = pillow(QStringLiteral(R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
palette = im.getpalette()
print(im.format, im.mode, len(palette) // 3 if palette else 0, int(bool(im.info.get('progressive'))),
      len(im.getbands()))
)"),
                                       {path});
        return QString::fromUtf8(r.out).trimmed().split(QLatin1Char(' '));
    }
    TempDir m_dir;
};

QImage rgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB32);
}

// The picture as the GIF writer stores a true-colour picture: each pixel on the web palette.
QImage onWebPalette(const QImage& picture) {
    QImage out = rgb(picture);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = out.pixel(x, y);
            out.setPixel(x, y, webPalette216()[GifFile::webIndex(qRed(c), qGreen(c), qBlue(c))]);
        }
    return out;
}

TEST_F(PicturePeers, EveryDepthWrittenAsBmpGifAndJpegReadsBackInPillowAndImageMagick) {
    const QImage picture = testPicture(45, 31);
    for (const QString& name : NomesCores()) {
        SCOPED_TRACE(name.toStdString());
        TBitmap bitmap(picture);
        ASSERT_TRUE(AplicarCores(bitmap, name));
        const QImage expected = rgb(bitmap.Image());
        const TPixelFormat depth = bitmap.PixelFormat();

        const QString bmp = file(QStringLiteral("p.bmp"));
        SalvarImagem(bitmap, bmp);
        const QByteArray data = readAll(bmp);
        uint16_t bits = 0;
        std::memcpy(&bits, data.constData() + 28, 2);
        EXPECT_EQ(bits, BmpFile::bitsFor(depth));
        const QStringList bmpSeen = pillowDescription(bmp);
        EXPECT_EQ(bmpSeen.value(0), QStringLiteral("BMP"));
        if (depth == pf4bit || depth == pf8bit) {
            EXPECT_EQ(bmpSeen.value(2).toInt(), depth == pf4bit ? 16 : 256);
        }
        // Pillow widens 5- and 6-bit channels by scaling, Qt and ImageMagick by repeating bits.
        EXPECT_LE(maxChannelDifference(pillowPixels(bmp), expected), depth == pf16bit ? 1 : 0);
        EXPECT_EQ(imageMagickDifference(bmp, expected), QStringLiteral("0"));

        const QString gif = file(QStringLiteral("p.gif"));
        SalvarImagem(bitmap, gif);
        const bool ownPalette = depth == pf4bit || depth == pf8bit;
        const QImage gifExpected = ownPalette ? expected : onWebPalette(expected);
        const QStringList gifSeen = pillowDescription(gif);
        EXPECT_EQ(gifSeen.value(0), QStringLiteral("GIF"));
        EXPECT_EQ(gifSeen.value(1), QStringLiteral("P"));
        EXPECT_EQ(gifSeen.value(2).toInt(), depth == pf4bit ? 16 : 256);
        EXPECT_EQ(maxChannelDifference(pillowPixels(gif), gifExpected), 0);
        EXPECT_EQ(imageMagickDifference(gif, gifExpected), QStringLiteral("0"));

        const QString jpeg = file(QStringLiteral("p.jpg"));
        SalvarImagem(bitmap, jpeg);
        EXPECT_EQ(pillowDescription(jpeg),
                  (QStringList{QStringLiteral("JPEG"), QStringLiteral("RGB"), QStringLiteral("0"),
                               QStringLiteral("0"), QStringLiteral("3")}));
        // Reduced pictures have hard edges, which JPEG blurs the most.
        const double allowed = depth == pf1bit ? 12 : depth == pf4bit || depth == pf8bit ? 10 : 6;
        EXPECT_LT(meanChannelDifference(pillowPixels(jpeg), expected), allowed);
        const ProcessResult quality =
            run(QStringLiteral("identify"),
                {QStringLiteral("-format"), QStringLiteral("%Q %[colorspace]"), jpeg});
        EXPECT_EQ(QString::fromUtf8(quality.out).trimmed(), QStringLiteral("90 sRGB"));
    }
}

TEST_F(PicturePeers, MetafilesAreAcceptedByLibwmfAndShowThePicture) {
    if (!haveTool(QStringLiteral("wmf2svg")))
        GTEST_SKIP() << "needs wmf2svg (libwmf-bin)";
    const QImage picture = testPicture(38, 27);
    int index = 0;
    for (const QString& name : NomesCores()) {
        SCOPED_TRACE(name.toStdString());
        TBitmap bitmap(picture);
        ASSERT_TRUE(AplicarCores(bitmap, name));
        const QString base = QStringLiteral("m%1").arg(index++);
        SalvarImagem(bitmap, file(base + QStringLiteral(".wmf")));
        // wmf2svg writes the bitmaps it meets as PNG files beside its output.
        const ProcessResult r = run(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("cd \"$0\" && wmf2svg -o \"$1.svg\" \"$1.wmf\""),
             m_dir.path(), base});
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
        const QString svg = QString::fromUtf8(readAll(file(base + QStringLiteral(".svg"))));
        EXPECT_TRUE(svg.contains(QStringLiteral("width=\"38\" height=\"27\"")))
            << svg.toStdString();
        const QRegularExpression href(QStringLiteral("xlink:href=\"([^\"]+\\.png)\""));
        const QRegularExpressionMatch match = href.match(svg);
        ASSERT_TRUE(match.hasMatch()) << svg.toStdString();
        EXPECT_TRUE(svg.contains(QStringLiteral("x=\"0.000000\" y=\"0.000000\" width=\"38.000000\" "
                                                "height=\"27.000000\"")));
        const QImage shown = pillowPixels(file(match.captured(1)));
        // libwmf widens 5- and 6-bit channels by shifting, which leaves their low bits zero.
        EXPECT_LE(maxChannelDifference(shown, rgb(bitmap.Image())),
                  bitmap.PixelFormat() == pf16bit ? 7 : 0);
    }
}

struct PeerFile {
    const char* name;
    QStringList command; // {tool, arguments...}; "SRC" and "OUT" are replaced
    int tolerance;
    TPixelFormat depth; // pfCustom: not checked
};

TEST_F(PicturePeers, ReadersLoadWhatImageMagickAndPillowWrite) {
    const QString source = file(QStringLiteral("source.png"));
    QImage withAlpha = testPicture(41, 29).convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < 41; ++x)
        withAlpha.setPixel(x, 28, qRgba(200, 10, 10, x * 6));
    ASSERT_TRUE(testPicture(41, 29).save(source));
    const QString alphaSource = file(QStringLiteral("alpha.png"));
    ASSERT_TRUE(withAlpha.save(alphaSource));
    const QString py = pillowPython();
    auto pil = [&](const char* code) {
        return QStringList{
            py, QStringLiteral("-c"),
            QStringLiteral("import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n") +
                QString::fromLatin1(code),
            QStringLiteral("SRC"), QStringLiteral("OUT")};
    };
    const QString im = QStringLiteral("convert");
    const std::vector<PeerFile> files = {
        {"im24.bmp", {im, "SRC", "BMP3:OUT"}, 0, pf24bit},
        {"immono.bmp", {im, "SRC", "-monochrome", "BMP3:OUT"}, 0, pf1bit},
        {"im4.bmp", {im, "SRC", "-colors", "16", "-compress", "None", "BMP3:OUT"}, 0, pf4bit},
        {"im8.bmp", {im, "SRC", "-type", "Palette", "-compress", "None", "BMP3:OUT"}, 0, pf8bit},
        {"imrle8.bmp", {im, "SRC", "-type", "Palette", "-compress", "RLE", "BMP3:OUT"}, 0, pf8bit},
        // Pillow scales 5- and 6-bit channels, Qt repeats their bits: they may differ by one.
        {"im565.bmp", {im, "SRC", "-define", "bmp:subtype=RGB565", "OUT"}, 1, pf16bit},
        {"im555.bmp", {im, "SRC", "-define", "bmp:subtype=RGB555", "OUT"}, 1, pf15bit},
        {"im32.bmp",
         {im, "SRC", "-alpha", "off", "-define", "bmp:subtype=ARGB8888", "OUT"},
         0,
         pfCustom},
        {"pil1.bmp", pil("im.convert('1', dither=Image.NONE).save(sys.argv[2])"), 0, pf1bit},
        {"pilp.bmp", pil("im.convert('P').save(sys.argv[2])"), 0, pf8bit},
        {"pil24.bmp", pil("im.convert('RGB').save(sys.argv[2])"), 0, pf24bit},
        {"iminterlaced.gif", {im, "SRC", "-interlace", "GIF", "OUT"}, 0, pfCustom},
        {"imanimated.gif",
         {im, "-delay", "10", "SRC", "(", "SRC", "-negate", ")", "OUT"},
         0,
         pfCustom},
        {"pil.gif", pil("im.save(sys.argv[2])"), 0, pf8bit},
        // Pillow stores 256 palette entries even for 16 colours; the file's palette rules.
        {"pil16.gif", pil("im.quantize(16).save(sys.argv[2])"), 0, pf8bit},
        {"improgressive.jpg", {im, "SRC", "-interlace", "JPEG", "OUT"}, 1, pf24bit},
        {"imgrey.jpg", {im, "SRC", "-colorspace", "Gray", "OUT"}, 1, pf8bit},
        {"imcmyk.jpg", {im, "SRC", "-colorspace", "CMYK", "OUT"}, 3, pfCustom},
        {"pil.jpeg", pil("im.convert('RGB').save(sys.argv[2], quality=75)"), 1, pf24bit},
        {"pilprogressive.jpg", pil("im.convert('RGB').save(sys.argv[2], progressive=True)"), 1,
         pf24bit},
        {"pilgrey.jpg", pil("im.convert('L').save(sys.argv[2])"), 1, pf8bit},
        {"im.ico", {im, "ALPHA", "-define", "icon:auto-resize=29,16", "OUT"}, 1, pfCustom},
        {"pil.ico",
         pil("Image.open(sys.argv[1].replace('source', 'alpha')).save(sys.argv[2], sizes=[(16, "
             "16), (32, 32)])"),
         1, pfCustom},
    };
    for (const PeerFile& peer : files) {
        SCOPED_TRACE(peer.name);
        const QString out = file(QString::fromLatin1(peer.name));
        QStringList command = peer.command;
        for (QString& word : command) {
            if (word == QLatin1String("SRC"))
                word = source;
            else if (word == QLatin1String("ALPHA"))
                word = alphaSource;
            word.replace(QStringLiteral("OUT"), out);
        }
        const ProcessResult made = run(command.takeFirst(), command);
        ASSERT_EQ(made.exitCode, 0) << made.err.constData();
        const TBitmap ours = CarregarImagem(out);
        if (peer.depth != pfCustom) {
            EXPECT_EQ(ours.PixelFormat(), peer.depth);
        }
        const QImage theirs = pillowPixels(out);
        ASSERT_FALSE(theirs.isNull());
        EXPECT_LE(maxChannelDifference(rgb(ours.Image()), theirs), peer.tolerance);
    }
}

TEST_F(PicturePeers, RunLengthFourBitAndTopDownBitmapsMatchPillow) {
    // RLE4 (no common tool writes it): two 4-pixel rows, delta-free, ending with end-of-bitmap.
    // Bottom row: colours 1,2,1,2 as one run; top row: an absolute run 3,0,3,0.
    const uint8_t rle[] = {4, 0x12, 0, 0, 0, 4, 0x30, 0x30, 0, 1};
    BITMAPINFOHEADER header;
    header.biWidth = 4;
    header.biHeight = 2;
    header.biBitCount = 4;
    header.biCompression = BI_RLE4;
    header.biSizeImage = sizeof rle;
    BITMAPFILEHEADER fileHeader;
    fileHeader.bfOffBits = 14 + 40 + 64;
    fileHeader.bfSize = uint32_t(fileHeader.bfOffBits + sizeof rle);
    QByteArray bytes(reinterpret_cast<const char*>(&fileHeader), 14);
    bytes.append(reinterpret_cast<const char*>(&header), 40);
    for (int i = 0; i < 16; ++i) {
        const RGBQUAD q{uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i * 8), 0};
        bytes.append(reinterpret_cast<const char*>(&q), 4);
    }
    bytes.append(reinterpret_cast<const char*>(rle), sizeof rle);
    const QString rlePath = file(QStringLiteral("rle4.bmp"));
    ASSERT_TRUE(writeAll(rlePath, bytes));
    const TBitmap ours = CarregarImagem(rlePath);
    EXPECT_EQ(ours.PixelFormat(), pf4bit);
    EXPECT_EQ(maxChannelDifference(rgb(ours.Image()), pillowPixels(rlePath)), 0);

    // A top-down 24-bit bitmap made from ImageMagick's bottom-up one.
    const QString source = file(QStringLiteral("source.png"));
    ASSERT_TRUE(testPicture(7, 5).save(source));
    const QString bottomUp = file(QStringLiteral("bu.bmp"));
    ASSERT_EQ(run(QStringLiteral("convert"), {source, QStringLiteral("BMP3:") + bottomUp}).exitCode,
              0);
    QByteArray data = readAll(bottomUp);
    uint32_t offset;
    std::memcpy(&offset, data.constData() + 10, 4);
    const int stride = 24;
    QByteArray flipped = data.left(offset);
    for (int y = 4; y >= 0; --y)
        flipped += data.mid(offset + y * stride, stride);
    const int32_t negative = -5;
    std::memcpy(flipped.data() + 22, &negative, 4);
    const QString topDown = file(QStringLiteral("td.bmp"));
    ASSERT_TRUE(writeAll(topDown, flipped));
    EXPECT_EQ(maxChannelDifference(rgb(CarregarImagem(topDown).Image()), pillowPixels(topDown)), 0);
    EXPECT_EQ(maxChannelDifference(rgb(CarregarImagem(topDown).Image()), rgb(testPicture(7, 5))),
              0);
}

TEST_F(PicturePeers, GifFirstImageIsShownOnTheWholeLogicalScreen) {
    // ImageMagick writes the 20 x 10 image at (5, 7) of a 40 x 30 screen; the background index
    // of its one-colour table is red as well.
    const QString offset = file(QStringLiteral("offset.gif"));
    ASSERT_EQ(run(QStringLiteral("convert"),
                  {QStringLiteral("-size"), QStringLiteral("20x10"), QStringLiteral("xc:red"),
                   QStringLiteral("-repage"), QStringLiteral("40x30+5+7"), offset})
                  .exitCode,
              0);
    const TBitmap bitmap = CarregarImagem(offset);
    EXPECT_EQ(bitmap.Width(), 40);
    EXPECT_EQ(bitmap.Height(), 30);
    EXPECT_EQ(bitmap.Image().pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(bitmap.Image().pixel(1, 1), qRgb(255, 0, 0));
}

} // namespace
