// Metafiles written record by record, played onto bitmaps.

#include "platform/core/Dib.h"
#include "shared/PictureError.h"
#include "shared/WmfFile.h"
#include "tests/pictures/PictureTestSupport.h"

#include <gtest/gtest.h>

using namespace qdx;
using namespace qdx::test;

namespace {

// Builds a metafile: an optional placeable header, the metafile header, then records whose
// parameters are given in stored order.
class Metafile {
public:
    Metafile& record(uint16_t function, std::initializer_list<int> words) {
        return record(function, words, {});
    }
    Metafile& record(uint16_t function, std::initializer_list<int> words, const QByteArray& tail) {
        QByteArray r;
        const uint32_t size = uint32_t(3 + words.size() + (tail.size() + 1) / 2);
        put32(r, size);
        put16(r, function);
        for (int w : words)
            put16(r, uint16_t(w));
        r += tail;
        if (tail.size() % 2)
            r.append('\0');
        m_records += r;
        return *this;
    }
    Metafile& colourRecord(uint16_t function, QRgb colour) {
        return record(function, {qRed(colour) | (qGreen(colour) << 8), qBlue(colour)});
    }
    QByteArray bytes(std::optional<QRect> placeable, int objects = 8) const {
        QByteArray out;
        if (placeable) {
            put32(out, WmfFile::kPlaceableKey);
            put16(out, 0);
            put16(out, uint16_t(placeable->left()));
            put16(out, uint16_t(placeable->top()));
            put16(out, uint16_t(placeable->right() + 1));
            put16(out, uint16_t(placeable->bottom() + 1));
            put16(out, 96);
            put32(out, 0);
            put16(out, WmfFile::checksum(reinterpret_cast<const uint8_t*>(out.constData())));
        }
        put16(out, 1);
        put16(out, 9);
        put16(out, 0x0300);
        put32(out, uint32_t(9 + m_records.size() / 2 + 3));
        put16(out, uint16_t(objects));
        put32(out, 0);
        put16(out, 0);
        out += m_records;
        put32(out, 3);
        put16(out, 0);
        return out;
    }

private:
    static void put16(QByteArray& out, uint16_t v) {
        out.append(reinterpret_cast<const char*>(&v), 2);
    }
    static void put32(QByteArray& out, uint32_t v) {
        out.append(reinterpret_cast<const char*>(&v), 4);
    }
    QByteArray m_records;
};

constexpr uint16_t kCreatePen = 0x02FA, kCreateBrush = 0x02FC, kSelect = 0x012D, kDelete = 0x01F0,
                   kRectangle = 0x041B, kEllipse = 0x0418, kPolygon = 0x0324, kWindowOrg = 0x020B,
                   kWindowExt = 0x020C, kSaveDc = 0x001E, kRestoreDc = 0x0127, kPatBlt = 0x061D,
                   kClip = 0x0416, kStretchDib = 0x0F43, kTextOut = 0x0521, kTextColour = 0x0209,
                   kBkMode = 0x0102, kCreateFont = 0x02FB, kMoveTo = 0x0214, kLineTo = 0x0213;

Metafile& pen(Metafile& m, QRgb colour, int width = 0) {
    return m.record(kCreatePen, {0, width, 0, qRed(colour) | (qGreen(colour) << 8), qBlue(colour)});
}
Metafile& brush(Metafile& m, QRgb colour) {
    return m.record(kCreateBrush, {0, qRed(colour) | (qGreen(colour) << 8), qBlue(colour), 0});
}

TBitmap play(const QByteArray& file) {
    return WmfFile::decode(bytesOf(file));
}

const QRgb kWhite = qRgb(255, 255, 255), kRed = qRgb(255, 0, 0), kBlue = qRgb(0, 0, 255),
           kGreen = qRgb(0, 255, 0), kBlack = qRgb(0, 0, 0);

TEST(WmfPlayer, PensBrushesAndShapesInTheWindowMapping) {
    Metafile m;
    pen(m, kRed);    // object 0
    brush(m, kBlue); // object 1
    m.record(kSelect, {0}).record(kSelect, {1});
    m.record(kRectangle, {40, 40, 10, 10}); // bottom, right, top, left
    m.record(kEllipse, {95, 95, 55, 55});
    m.record(kPolygon, {3, 60, 10, 90, 10, 75, 40});
    const TBitmap picture = play(m.bytes(QRect(0, 0, 100, 100)));
    ASSERT_EQ(picture.Width(), 100);
    const QImage& image = picture.Image();
    EXPECT_EQ(image.pixel(25, 25), kBlue);
    EXPECT_EQ(image.pixel(10, 25), kRed);
    EXPECT_EQ(image.pixel(5, 5), kWhite);
    EXPECT_EQ(image.pixel(75, 75), kBlue);
    EXPECT_EQ(image.pixel(56, 57), kWhite); // outside the ellipse, inside its box
    EXPECT_EQ(image.pixel(75, 20), kBlue);

    // A window of 200 x 200 units over the same 100 x 100 pixels halves everything.
    Metafile scaled;
    brush(scaled, kGreen);
    pen(scaled, kGreen);
    scaled.record(kSelect, {0}).record(kSelect, {1});
    scaled.record(kWindowOrg, {0, 0}).record(kWindowExt, {200, 200});
    scaled.record(kRectangle, {200, 200, 100, 100});
    const QImage half = play(scaled.bytes(QRect(0, 0, 100, 100))).Image();
    EXPECT_EQ(half.pixel(75, 75), kGreen);
    EXPECT_EQ(half.pixel(45, 45), kWhite);
}

TEST(WmfPlayer, ObjectSlotsSavedStatesClippingAndPatternFills) {
    Metafile m;
    brush(m, kRed);  // slot 0
    brush(m, kBlue); // slot 1
    m.record(kDelete, {0});
    brush(m, kGreen); // takes the freed slot 0
    m.record(kSelect, {0});
    m.record(kPatBlt, {0x0021, 0x00F0, 10, 10, 0, 0}); // PATCOPY rop, h, w, y, x
    m.record(kSaveDc, {});
    m.record(kSelect, {1});
    m.record(kClip, {30, 30, 20, 20}); // only 20..29 may be painted
    m.record(kPatBlt, {0x0021, 0x00F0, 40, 40, 10, 10});
    m.record(kRestoreDc, {uint16_t(-1)});
    m.record(kPatBlt, {0x0021, 0x00F0, 5, 5, 40, 40}); // green again, clip gone
    m.record(kPatBlt, {0x0042, 0x0000, 5, 5, 60, 60}); // BLACKNESS
    const QImage image = play(m.bytes(QRect(0, 0, 80, 80))).Image();
    EXPECT_EQ(image.pixel(5, 5), kGreen);
    EXPECT_EQ(image.pixel(25, 25), kBlue);
    EXPECT_EQ(image.pixel(15, 15), kWhite); // clipped away
    EXPECT_EQ(image.pixel(42, 42), kGreen);
    EXPECT_EQ(image.pixel(62, 62), kBlack);
}

TEST(WmfPlayer, BitmapRecordsAreStretchedIntoTheirTarget) {
    QImage source(2, 2, QImage::Format_RGB32);
    source.setPixel(0, 0, kRed);
    source.setPixel(1, 0, kGreen);
    source.setPixel(0, 1, kBlue);
    source.setPixel(1, 1, kBlack);
    const DibLayout layout = dibLayoutOf(source, 24);
    QByteArray dib(reinterpret_cast<const char*>(&layout.header), sizeof layout.header);
    const qsizetype at = dib.size();
    dib.resize(at + layout.header.biSizeImage);
    writeDibBits(source, layout, reinterpret_cast<uint8_t*>(dib.data() + at));
    Metafile m;
    // rop, usage, source h, w, y, x, target h, w, y, x
    m.record(kStretchDib, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 40, 40, 10, 10}, dib);
    const QImage image = play(m.bytes(QRect(0, 0, 60, 60))).Image();
    EXPECT_EQ(image.pixel(15, 15), kRed);
    EXPECT_EQ(image.pixel(45, 15), kGreen);
    EXPECT_EQ(image.pixel(15, 45), kBlue);
    EXPECT_EQ(image.pixel(45, 45), kBlack);
    EXPECT_EQ(image.pixel(5, 5), kWhite);
}

TEST(WmfPlayer, TextAndLinesAreDrawnInTheirColours) {
    // Italic, underline, strike-out, character set, precisions, quality, pitch; then the face.
    QByteArray font(8, '\0');
    font += QByteArray("Sans\0", 6);
    // The string, then y = 10 and x = 5.
    QByteArray text("HHHH");
    text += QByteArray("\x0A\0\x05\0", 4);
    Metafile m;
    m.record(kCreateFont, {uint16_t(-30), 0, 0, 0, 700}, font);
    m.record(kSelect, {0});
    m.colourRecord(kTextColour, kBlue);
    m.record(kBkMode, {1}); // transparent
    m.record(kTextOut, {4}, text);
    pen(m, kRed, 0);
    m.record(kSelect, {1});
    m.record(kMoveTo, {70, 0}).record(kLineTo, {70, 99});
    QByteArray file = m.bytes(QRect(0, 0, 100, 80));
    const QImage image = play(file).Image();
    int blue = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            blue += image.pixel(x, y) == kBlue;
    EXPECT_GT(blue, 40) << "text pixels in the text colour";
    EXPECT_EQ(image.pixel(50, 70), kRed);
    EXPECT_EQ(image.pixel(50, 75), kWhite);
}

TEST(WmfPlayer, SizesAndDamagedRecords) {
    // Without the placeable header the first window extent gives the size.
    Metafile plain;
    plain.record(kWindowExt, {30, 50});
    const TBitmap picture = play(plain.bytes(std::nullopt));
    EXPECT_EQ(picture.Width(), 50);
    EXPECT_EQ(picture.Height(), 30);
    EXPECT_THROW(play(Metafile().bytes(std::nullopt)), PictureError);

    // A record claiming fewer than three words is an error, and so is a file cut short: a record
    // running past its end, or records that stop before the end record.
    Metafile m;
    brush(m, kRed);
    m.record(kSelect, {0}).record(kPatBlt, {0x0021, 0x00F0, 10, 10, 0, 0});
    QByteArray file = m.bytes(QRect(0, 0, 20, 20));
    QByteArray zero = file;
    zero.insert(zero.size() - 6, QByteArray("\x01\0\0\0\x1E\0", 6));
    EXPECT_THROW(play(zero), PictureError);
    EXPECT_EQ(play(file).Image().pixel(5, 5), kRed);
    QByteArray cut = file.left(file.size() - 6);
    cut += QByteArray("\xFF\0\0\0\x1D\x06\0\0", 8);
    EXPECT_THROW(play(cut), PictureError);
    for (qsizetype size : {file.size() - 6, file.size() - 7, file.size() - 20})
        EXPECT_THROW(play(file.left(size)), PictureError) << size;
}

} // namespace
