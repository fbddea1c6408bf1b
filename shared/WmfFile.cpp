#include "shared/WmfFile.h"

#include "shared/PictureBytes.h"

#include "platform/core/Dib.h"
#include "shared/BmpFile.h"
#include "shared/PictureError.h"
#include "shared/WmfPlayer.h"

#include <cstring>

namespace qdx {

namespace {

constexpr size_t kPlaceableSize = 22;
constexpr size_t kMetaHeaderSize = 18;
constexpr uint16_t kSetWindowOrg = 0x020B;
constexpr uint16_t kSetWindowExt = 0x020C;
constexpr uint16_t kStretchDib = 0x0F43;
constexpr uint32_t kSrcCopy = 0x00CC0020;
// A metafile without the placeable header gives its size only in logical units, taken as pixels;
// extents past kLargestUnplacedSide (files in twips or hundredths of millimetres) are shown scaled
// to fit kUnplacedFit.
constexpr int kLargestUnplacedSide = 8192;
constexpr int kUnplacedFit = 1024;

// Appends little-endian words (the machines this runs on are little-endian, as the format is).
struct Writer {
    QByteArray& out;
    void u16(uint32_t v) {
        const uint16_t w = uint16_t(v);
        out.append(reinterpret_cast<const char*>(&w), 2);
    }
    void u32(uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
    void record(uint32_t words, uint16_t function) {
        u32(words);
        u16(function);
    }
};

} // namespace

uint16_t WmfFile::checksum(const uint8_t* header) {
    uint16_t sum = 0;
    for (int i = 0; i < 10; ++i) {
        uint16_t word;
        std::memcpy(&word, header + 2 * i, 2);
        sum ^= word;
    }
    return sum;
}

QByteArray WmfFile::encode(const TBitmap& bitmap) {
    if (bitmap.Empty())
        fail("The picture is empty.");
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    if (w > 0x7FFF || h > 0x7FFF)
        fail("The picture is too large for a metafile (at most 32767 pixels a side).");

    // 16-bit pictures are stored as 24-bit DIBs: metafile players commonly ignore BI_BITFIELDS
    // masks, and 24 bits hold every 5-6-5 colour exactly. Colour tables are declared with their
    // size (biClrUsed), which players of the format expect.
    int bits = BmpFile::bitsFor(bitmap.PixelFormat());
    if (bits == 16)
        bits = 24;
    DibLayout layout = dibLayoutOf(bitmap.Image(), bits);
    layout.header.biClrUsed = uint32_t(layout.colours.size());
    const bool masks = layout.header.biCompression == BI_BITFIELDS;
    const uint64_t dibBytes = sizeof(BITMAPINFOHEADER) + (masks ? 12 : 0) +
                              layout.colours.size() * sizeof(RGBQUAD) + layout.header.biSizeImage;
    // Every part of a DIB is a whole number of 32-bit words, so the record is whole 16-bit words.
    const uint64_t stretchWords = 3 + 2 + 1 + 8 + dibBytes / 2;
    const uint64_t totalWords = kMetaHeaderSize / 2 + 5 + 5 + stretchWords + 3;
    if (totalWords > 0xFFFFFFFFu)
        fail("The picture is too large for a metafile.");

    QByteArray out;
    out.reserve(qsizetype(kPlaceableSize + totalWords * 2));
    Writer put{out};
    // Placeable header: key, handle, bounding box, units per inch, reserved, checksum.
    put.u32(kPlaceableKey);
    put.u16(0);
    put.u16(0);
    put.u16(0);
    put.u16(uint32_t(w));
    put.u16(uint32_t(h));
    put.u16(kUnitsPerInch);
    put.u32(0);
    put.u16(checksum(reinterpret_cast<const uint8_t*>(out.constData())));

    // Metafile header: in memory, 9 words long, version 3.0, total size and largest record.
    put.u16(1);
    put.u16(kMetaHeaderSize / 2);
    put.u16(0x0300);
    put.u32(uint32_t(totalWords));
    put.u16(0); // no objects
    put.u32(uint32_t(stretchWords));
    put.u16(0);

    // Parameters of every record are stored last to first: y before x, height before width.
    put.record(5, kSetWindowOrg);
    put.u16(0);
    put.u16(0);
    put.record(5, kSetWindowExt);
    put.u16(uint32_t(h));
    put.u16(uint32_t(w));

    put.record(uint32_t(stretchWords), kStretchDib);
    put.u32(kSrcCopy);
    put.u16(0);           // DIB_RGB_COLORS
    put.u16(uint32_t(h)); // source height, width, y, x
    put.u16(uint32_t(w));
    put.u16(0);
    put.u16(0);
    put.u16(uint32_t(h)); // destination height, width, y, x
    put.u16(uint32_t(w));
    put.u16(0);
    put.u16(0);
    out.append(reinterpret_cast<const char*>(&layout.header), sizeof layout.header);
    if (masks)
        out.append(reinterpret_cast<const char*>(layout.masks), 12);
    if (!layout.colours.empty())
        out.append(reinterpret_cast<const char*>(layout.colours.data()),
                   qsizetype(layout.colours.size() * sizeof(RGBQUAD)));
    const qsizetype bitsAt = out.size();
    out.resize(bitsAt + qsizetype(layout.header.biSizeImage));
    writeDibBits(bitmap.Image(), layout, reinterpret_cast<uint8_t*>(out.data() + bitsAt));

    put.record(3, 0x0000); // end of file
    return out;
}

WmfFile::Header WmfFile::readHeader(std::span<const uint8_t> file) {
    Header header;
    size_t at = 0;
    if (file.size() >= 4 && readAt<uint32_t>(file, 0) == kPlaceableKey) {
        if (file.size() < kPlaceableSize)
            fail("The metafile header is cut short.");
        const int left = readAt<int16_t>(file, 6);
        const int top = readAt<int16_t>(file, 8);
        const int right = readAt<int16_t>(file, 10);
        const int bottom = readAt<int16_t>(file, 12);
        header.unitsPerInch = readAt<uint16_t>(file, 14);
        if (header.unitsPerInch == 0)
            fail("The metafile header is damaged (no units per inch).");
        header.bounds = QRect(QPoint(std::min(left, right), std::min(top, bottom)),
                              QSize(std::abs(right - left), std::abs(bottom - top)));
        // The picture's size at 96 pixels per inch, rounded to the nearest pixel.
        const int64_t w =
            (int64_t(header.bounds.width()) * 96 + header.unitsPerInch / 2) / header.unitsPerInch;
        const int64_t h =
            (int64_t(header.bounds.height()) * 96 + header.unitsPerInch / 2) / header.unitsPerInch;
        if (w <= 0 || h <= 0)
            fail("The metafile has no size.");
        if (w * h > kMaxPicturePixels)
            fail("The metafile's picture is too large.");
        header.pixels = QSize(int(w), int(h));
        at = kPlaceableSize;
    }
    if (file.size() < at + kMetaHeaderSize)
        fail("The file is too short to be a metafile.");
    const uint16_t type = readAt<uint16_t>(file, at);
    const uint16_t headerWords = readAt<uint16_t>(file, at + 2);
    if ((type != 1 && type != 2) || headerWords != kMetaHeaderSize / 2)
        fail("The file is not a Windows metafile.");
    header.objectCount = readAt<uint16_t>(file, at + 10);
    header.recordsOffset = at + kMetaHeaderSize;

    if (header.unitsPerInch == 0) {
        // Without the placeable header the size comes from the first window extent.
        size_t pos = header.recordsOffset;
        while (pos + 6 <= file.size()) {
            const uint32_t words = readAt<uint32_t>(file, pos);
            const uint16_t function = readAt<uint16_t>(file, pos + 4);
            if (words < 3 || function == 0 || (file.size() - pos) / 2 < words)
                break;
            if (function == kSetWindowExt && words >= 5) {
                const int ey = std::abs(int(readAt<int16_t>(file, pos + 6)));
                const int ex = std::abs(int(readAt<int16_t>(file, pos + 8)));
                header.bounds = QRect(0, 0, ex, ey);
                break;
            }
            pos += size_t(words) * 2;
        }
        if (header.bounds.isEmpty())
            fail("The metafile gives no picture size.");
        QSize pixels = header.bounds.size();
        if (pixels.width() > kLargestUnplacedSide || pixels.height() > kLargestUnplacedSide)
            pixels = pixels.scaled(kUnplacedFit, kUnplacedFit, Qt::KeepAspectRatio);
        header.pixels = pixels.expandedTo(QSize(1, 1));
        if (int64_t(header.pixels.width()) * header.pixels.height() > kMaxPicturePixels)
            fail("The metafile's picture is too large.");
    }
    return header;
}

TBitmap WmfFile::decode(std::span<const uint8_t> file) {
    const Header header = readHeader(file);
    WmfPlayer player(header.pixels, header.bounds, header.objectCount);
    player.play(file.subspan(header.recordsOffset));
    return player.result();
}

} // namespace qdx
