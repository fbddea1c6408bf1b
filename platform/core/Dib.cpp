#include "platform/core/Dib.h"

#include "platform/core/Palettes.h"
#include "platform/core/PictureReducer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace qdx {

namespace {

// Largest picture a DIB may describe: 2^26 pixels (8192 x 8192), enough for any screen or film
// frame, small enough that a hostile header cannot make us allocate gigabytes.
constexpr int64_t kMaxPixels = int64_t(1) << 26;
constexpr int kMaxSide = 1 << 16;

QString tr(const char* text) {
    return QString::fromUtf8(text);
}

QList<QRgb> tableOf(std::span<const RGBQUAD> colours, int entries) {
    QList<QRgb> table;
    table.reserve(entries);
    for (int i = 0; i < entries; ++i) {
        if (i < static_cast<int>(colours.size()))
            table.append(qRgb(colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue));
        else
            table.append(qRgb(0, 0, 0));
    }
    return table;
}

struct MaskChannel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    uint8_t extract(uint32_t pixel) const {
        if (max == 0)
            return 0;
        const uint32_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((uint64_t(v) * 255 + max / 2) / max);
    }
};

MaskChannel channelOf(uint32_t mask) {
    MaskChannel c;
    c.mask = mask;
    if (mask != 0) {
        c.shift = std::countr_zero(mask);
        c.max = mask >> c.shift;
    }
    return c;
}

// Pixel `x` of a 16- or 32-bit row through the channels' masks.
QRgb maskedPixel(const uint8_t* in, int x, int bitCount, const MaskChannel& r, const MaskChannel& g,
                 const MaskChannel& b) {
    uint32_t p = 0;
    if (bitCount == 16)
        p = uint32_t(in[2 * x]) | (uint32_t(in[2 * x + 1]) << 8);
    else
        std::memcpy(&p, in + 4 * size_t(x), 4);
    return qRgb(r.extract(p), g.extract(p), b.extract(p));
}

// Decodes RLE8 or RLE4 data row by row: `sink(y, indices)` gets every row once, bottom row first
// (y counted from the bottom, as RLE is stored), one index per pixel; pixels the data skips are 0.
template <class Sink>
bool decodeRleRows(std::span<const uint8_t> data, int width, int height, bool rle4, Sink&& sink,
                   QString* error) {
    std::vector<uint8_t> row(size_t(width), 0);
    size_t pos = 0;
    int x = 0;
    int y = 0; // row counted from the bottom
    // Hands on the rows below `until` that are not yet handed on.
    auto finishRows = [&](int until) {
        for (; y < until && y < height; ++y) {
            sink(y, row.data());
            std::fill(row.begin(), row.end(), uint8_t(0));
        }
        y = std::max(y, until);
    };
    // Pixels past the row's end are dropped; the column stops there, so that a hostile file of
    // endless runs cannot make it overflow.
    auto put = [&](uint8_t index) {
        if (x >= width)
            return;
        if (y < height)
            row[size_t(x)] = index;
        ++x;
    };
    while (true) {
        if (pos + 2 > data.size()) {
            // Files cut before the end-of-bitmap marker keep what was decoded.
            finishRows(height);
            return true;
        }
        const uint8_t count = data[pos];
        const uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                if (rle4)
                    put((i & 1) ? (value & 0x0F) : (value >> 4));
                else
                    put(value);
            }
            continue;
        }
        switch (value) {
        case 0: // end of line
            finishRows(y + 1);
            x = 0;
            break;
        case 1: // end of bitmap
            finishRows(height);
            return true;
        case 2: // delta
            if (pos + 2 > data.size()) {
                finishRows(height);
                return true;
            }
            x = std::min(x + data[pos], width);
            finishRows(y + data[pos + 1]);
            pos += 2;
            break;
        default: { // absolute run of `value` pixels, padded to a 16-bit boundary
            const int n = value;
            const size_t bytes = rle4 ? size_t((n + 1) / 2) : size_t(n);
            if (pos + bytes > data.size()) {
                if (error)
                    *error = tr("The picture data is cut short.");
                return false;
            }
            for (int i = 0; i < n; ++i) {
                if (rle4) {
                    const uint8_t b = data[pos + size_t(i / 2)];
                    put((i & 1) ? (b & 0x0F) : (b >> 4));
                } else {
                    put(data[pos + size_t(i)]);
                }
            }
            pos += (bytes + 1) & ~size_t(1);
            break;
        }
        }
        if (y >= height)
            return true;
    }
}

// Decodes RLE8 or RLE4 data into one index per pixel, top row first.
bool decodeRle(std::span<const uint8_t> data, int width, int height, bool rle4,
               std::vector<uint8_t>& indices, QString* error) {
    indices.assign(size_t(width) * size_t(height), 0);
    return decodeRleRows(
        data, width, height, rle4,
        [&](int y, const uint8_t* row) {
            std::memcpy(indices.data() + size_t(height - 1 - y) * size_t(width), row,
                        size_t(width));
        },
        error);
}

// An 8-bit indexed picture whose indices are valid for a table of at most 2^bits colours.
QImage indexedFor(const QImage& picture, int bits, QList<QRgb>& table) {
    const int capacity = 1 << bits;
    if (picture.format() == QImage::Format_Indexed8 && picture.colorCount() <= capacity) {
        table = picture.colorTable();
        return picture;
    }
    if ((picture.format() == QImage::Format_Mono || picture.format() == QImage::Format_MonoLSB)) {
        table = picture.colorTable();
        return picture.convertToFormat(QImage::Format_Indexed8);
    }
    const TPixelFormat depth = bits == 1 ? pf1bit : bits == 4 ? pf4bit : pf8bit;
    QImage reduced = TBitmap::convertedTo(picture, depth);
    table = reduced.colorTable();
    if (reduced.format() != QImage::Format_Indexed8)
        reduced = reduced.convertToFormat(QImage::Format_Indexed8);
    return reduced;
}

} // namespace

int64_t dibStride(int64_t width, int bitCount) {
    if (width < 0 || bitCount <= 0 || bitCount > 64 || width > (int64_t(1) << 32))
        return -1;
    return ((width * bitCount + 31) / 32) * 4;
}

int dibColourCount(const BITMAPINFOHEADER& header) {
    if (header.biBitCount <= 8)
        return header.biClrUsed != 0 ? int(std::min<uint32_t>(header.biClrUsed, 1u << 16))
                                     : (1 << header.biBitCount);
    return int(std::min<uint32_t>(header.biClrUsed, 1u << 16));
}

bool isKnownDibHeaderSize(uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124;
}

DibLayout dibLayoutOf(const QImage& picture, int bitCount, bool rgb565) {
    DibLayout layout;
    BITMAPINFOHEADER& h = layout.header;
    h.biWidth = picture.width();
    h.biHeight = picture.height();
    h.biBitCount = static_cast<uint16_t>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<uint32_t>(dibStride(picture.width(), bitCount) * picture.height());
    if (bitCount <= 8) {
        QList<QRgb> table;
        const int capacity = 1 << bitCount;
        if ((picture.format() == QImage::Format_Indexed8 && picture.colorCount() <= capacity) ||
            picture.format() == QImage::Format_Mono || picture.format() == QImage::Format_MonoLSB)
            table = picture.colorTable();
        else if (bitCount == 1)
            table = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
        else if (bitCount == 4)
            table = standardPalette16();
        else
            table = halftonePalette256();
        layout.colours.resize(size_t(capacity));
        for (int i = 0; i < capacity && i < table.size(); ++i) {
            layout.colours[size_t(i)].rgbRed = static_cast<uint8_t>(qRed(table[i]));
            layout.colours[size_t(i)].rgbGreen = static_cast<uint8_t>(qGreen(table[i]));
            layout.colours[size_t(i)].rgbBlue = static_cast<uint8_t>(qBlue(table[i]));
        }
    } else if (bitCount == 16 && rgb565) {
        h.biCompression = BI_BITFIELDS;
        layout.masks[0] = 0xF800;
        layout.masks[1] = 0x07E0;
        layout.masks[2] = 0x001F;
    }
    return layout;
}

void writeDibBits(const QImage& picture, const DibLayout& layout, uint8_t* bits) {
    const int width = picture.width();
    const int height = picture.height();
    const int bitCount = layout.header.biBitCount;
    const size_t stride = size_t(dibStride(width, bitCount));
    auto rowOut = [&](int y) {
        return bits + size_t(height - 1 - y) * stride;
    };

    if (bitCount <= 8) {
        if (bitCount == 1 && picture.format() == QImage::Format_Mono) {
            const size_t n = std::min(stride, size_t(picture.bytesPerLine()));
            for (int y = 0; y < height; ++y) {
                uint8_t* out = rowOut(y);
                std::memcpy(out, picture.constScanLine(y), n);
                std::memset(out + n, 0, stride - n);
            }
            return;
        }
        QList<QRgb> table;
        const QImage indexed = indexedFor(picture, bitCount, table);
        for (int y = 0; y < height; ++y) {
            const uint8_t* in = indexed.constScanLine(y);
            uint8_t* out = rowOut(y);
            std::memset(out, 0, stride);
            if (bitCount == 8) {
                std::memcpy(out, in, size_t(width));
            } else if (bitCount == 4) {
                for (int x = 0; x < width; ++x)
                    out[x >> 1] |= static_cast<uint8_t>((in[x] & 0x0F) << ((x & 1) ? 0 : 4));
            } else {
                for (int x = 0; x < width; ++x)
                    if (in[x] & 1)
                        out[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
            }
        }
        return;
    }

    if (bitCount == 24 && picture.format() == QImage::Format_RGB32) {
        for (int y = 0; y < height; ++y) {
            const QRgb* in = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            uint8_t* out = rowOut(y);
            for (int x = 0; x < width; ++x) {
                out[3 * x] = static_cast<uint8_t>(in[x]);
                out[3 * x + 1] = static_cast<uint8_t>(in[x] >> 8);
                out[3 * x + 2] = static_cast<uint8_t>(in[x] >> 16);
            }
            std::memset(out + 3 * size_t(width), 0, stride - 3 * size_t(width));
        }
        return;
    }

    QImage::Format storage = QImage::Format_RGB32;
    if (bitCount == 16)
        storage = layout.header.biCompression == BI_BITFIELDS ? QImage::Format_RGB16
                                                              : QImage::Format_RGB555;
    else if (bitCount == 24)
        storage = QImage::Format_BGR888;
    const QImage source = picture.format() == storage ? picture : picture.convertToFormat(storage);
    const size_t rowBytes = size_t(width) * size_t(bitCount / 8);
    for (int y = 0; y < height; ++y) {
        uint8_t* out = rowOut(y);
        std::memcpy(out, source.constScanLine(y), rowBytes);
        std::memset(out + rowBytes, 0, stride - rowBytes);
    }
}

TBitmap decodeDib(const BITMAPINFOHEADER& header, std::span<const RGBQUAD> colours,
                  const uint32_t* masks, std::span<const uint8_t> bits, QString* error,
                  QSize atLeast) {
    auto fail = [&](const char* text) {
        if (error)
            *error = tr(text);
        return TBitmap();
    };
    const int bitCount = header.biBitCount;
    const int64_t width = header.biWidth;
    const bool topDown = header.biHeight < 0;
    const int64_t height = topDown ? -int64_t(header.biHeight) : int64_t(header.biHeight);
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        width * height > kMaxPixels)
        return fail("The picture has an invalid size.");
    const uint32_t compression = header.biCompression;
    const int w = int(width);
    const int h = int(height);
    const int factor = PictureReducer::factorFor(w, h, atLeast);

    if (compression == BI_RLE8 || compression == BI_RLE4) {
        if ((compression == BI_RLE8 && bitCount != 8) || (compression == BI_RLE4 && bitCount != 4))
            return fail("The picture uses an unsupported compression.");
        if (topDown)
            return fail("The picture uses an unsupported compression.");
        if (factor > 1) {
            // Row by row, bottom row first, into the reducer.
            const QList<QRgb> table = tableOf(colours, 1 << bitCount);
            PictureReducer reducer(w, h, factor, PictureReducer::Order::BottomUp);
            std::vector<QRgb> line(static_cast<size_t>(w));
            if (reducer.isNull())
                return fail("Not enough memory for the picture.");
            const bool ok = decodeRleRows(
                bits, w, h, compression == BI_RLE4,
                [&](int y, const uint8_t* in) {
                    for (int x = 0; x < w; ++x)
                        line[size_t(x)] = table[in[x]];
                    reducer.addRow(h - 1 - y, line.data());
                },
                error);
            return ok ? TBitmap(reducer.result(), pf32bit) : TBitmap();
        }
        std::vector<uint8_t> indices;
        if (!decodeRle(bits, w, h, compression == BI_RLE4, indices, error))
            return TBitmap();
        QImage image(w, h, QImage::Format_Indexed8);
        if (image.isNull())
            return fail("Not enough memory for the picture.");
        image.setColorTable(tableOf(colours, 1 << bitCount));
        for (int y = 0; y < h; ++y)
            std::memcpy(image.scanLine(y), indices.data() + size_t(y) * size_t(w), size_t(w));
        return TBitmap(image, bitCount == 4 ? pf4bit : pf8bit);
    }

    const bool bitfields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
    if (compression != BI_RGB && !bitfields)
        return fail("The picture uses an unsupported compression.");
    if (bitfields && bitCount != 16 && bitCount != 32)
        return fail("The picture uses an unsupported compression.");
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32)
        return fail("The picture has an unsupported colour depth.");

    const int64_t stride = dibStride(width, bitCount);
    if (stride < 0 || uint64_t(stride) * uint64_t(height) > bits.size())
        return fail("The picture data is cut short.");
    auto rowIn = [&](int y) {
        const int64_t stored = topDown ? y : (h - 1 - y);
        return bits.data() + size_t(stored) * size_t(stride);
    };

    uint32_t m[3] = {0, 0, 0};
    if (bitfields) {
        if (!masks)
            return fail("The picture's colour masks are missing.");
        std::copy(masks, masks + 3, m);
    } else if (bitCount == 16) {
        m[0] = 0x7C00;
        m[1] = 0x03E0;
        m[2] = 0x001F;
    } else {
        m[0] = 0xFF0000;
        m[1] = 0x00FF00;
        m[2] = 0x0000FF;
    }

    if (factor > 1) {
        // One row at a time in 32 bits, into the reducer.
        PictureReducer reducer(w, h, factor, PictureReducer::Order::TopDown);
        std::vector<QRgb> line(static_cast<size_t>(w));
        if (reducer.isNull())
            return fail("Not enough memory for the picture.");
        const QList<QRgb> table = bitCount <= 8 ? tableOf(colours, 1 << bitCount) : QList<QRgb>();
        const MaskChannel r = channelOf(m[0]), g = channelOf(m[1]), b = channelOf(m[2]);
        for (int y = 0; y < h; ++y) {
            const uint8_t* in = rowIn(y);
            QRgb* out = line.data();
            for (int x = 0; x < w; ++x) {
                if (bitCount == 1) {
                    out[x] = table[(in[x >> 3] >> (7 - (x & 7))) & 1];
                } else if (bitCount == 4) {
                    out[x] = table[(x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4)];
                } else if (bitCount == 8) {
                    out[x] = table[in[x]];
                } else if (bitCount == 24) {
                    out[x] = qRgb(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
                } else {
                    out[x] = maskedPixel(in, x, bitCount, r, g, b);
                }
            }
            reducer.addRow(y, out);
        }
        return TBitmap(reducer.result(), pf32bit);
    }

    if (bitCount <= 8) {
        QImage image(w, h, bitCount == 1 ? QImage::Format_Mono : QImage::Format_Indexed8);
        if (image.isNull())
            return fail("Not enough memory for the picture.");
        image.setColorTable(tableOf(colours, 1 << bitCount));
        for (int y = 0; y < h; ++y) {
            const uint8_t* in = rowIn(y);
            uint8_t* out = image.scanLine(y);
            if (bitCount == 1)
                std::memcpy(out, in, size_t((w + 7) / 8));
            else if (bitCount == 8)
                std::memcpy(out, in, size_t(w));
            else
                for (int x = 0; x < w; ++x)
                    out[x] = (x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4);
        }
        return TBitmap(image, bitCount == 1 ? pf1bit : bitCount == 4 ? pf4bit : pf8bit);
    }

    if (bitCount == 24) {
        QImage image(w, h, QImage::Format_BGR888);
        if (image.isNull())
            return fail("Not enough memory for the picture.");
        for (int y = 0; y < h; ++y)
            std::memcpy(image.scanLine(y), rowIn(y), size_t(w) * 3);
        return TBitmap(image, pf24bit);
    }
    if (bitCount == 16 && ((m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F) ||
                           (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F))) {
        const bool is565 = m[0] == 0xF800;
        QImage image(w, h, is565 ? QImage::Format_RGB16 : QImage::Format_RGB555);
        if (image.isNull())
            return fail("Not enough memory for the picture.");
        for (int y = 0; y < h; ++y)
            std::memcpy(image.scanLine(y), rowIn(y), size_t(w) * 2);
        return TBitmap(image, is565 ? pf16bit : pf15bit);
    }

    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull())
        return fail("Not enough memory for the picture.");
    if (bitCount == 32 && m[0] == 0xFF0000 && m[1] == 0x00FF00 && m[2] == 0x0000FF) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* in = rowIn(y);
            QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            std::memcpy(out, in, size_t(w) * 4);
            for (int x = 0; x < w; ++x)
                out[x] |= 0xFF000000u;
        }
        return TBitmap(image, pf32bit);
    }
    const MaskChannel r = channelOf(m[0]), g = channelOf(m[1]), b = channelOf(m[2]);
    for (int y = 0; y < h; ++y) {
        const uint8_t* in = rowIn(y);
        QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            out[x] = maskedPixel(in, x, bitCount, r, g, b);
    }
    return TBitmap(image, pf32bit);
}

TBitmap decodePackedDib(std::span<const uint8_t> packed, QString* error) {
    BITMAPINFOHEADER header;
    if (packed.size() < 4) {
        if (error)
            *error = tr("The picture header is cut short.");
        return TBitmap();
    }
    uint32_t size = 0;
    std::memcpy(&size, packed.data(), 4);
    if (!isKnownDibHeaderSize(size) || packed.size() < size) {
        if (error)
            *error = tr("The picture header is invalid.");
        return TBitmap();
    }
    std::memcpy(&header, packed.data(), sizeof header);
    size_t offset = size;
    uint32_t masks[3] = {0, 0, 0};
    const bool bitfields =
        header.biCompression == BI_BITFIELDS || header.biCompression == BI_ALPHABITFIELDS;
    if (bitfields) {
        if (size >= 52) {
            std::memcpy(masks, packed.data() + 40, 12);
        } else {
            if (packed.size() < offset + 12) {
                if (error)
                    *error = tr("The picture header is cut short.");
                return TBitmap();
            }
            std::memcpy(masks, packed.data() + offset, 12);
            offset += header.biCompression == BI_ALPHABITFIELDS ? 16 : 12;
        }
    }
    const size_t colourCount = size_t(dibColourCount(header));
    if (packed.size() < offset || (packed.size() - offset) / 4 < colourCount) {
        if (error)
            *error = tr("The picture's colour table is cut short.");
        return TBitmap();
    }
    std::span<const RGBQUAD> colours(reinterpret_cast<const RGBQUAD*>(packed.data() + offset),
                                     colourCount);
    offset += colourCount * 4;
    return decodeDib(header, colours, masks, packed.subspan(offset), error);
}

} // namespace qdx
