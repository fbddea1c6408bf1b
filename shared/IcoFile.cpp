#include "shared/IcoFile.h"

#include "shared/PictureBytes.h"

#include "platform/core/Dib.h"
#include "platform/core/PictureReducer.h"
#include "shared/PictureError.h"

#include <QImage>

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

namespace qdx {

namespace {

constexpr size_t kDirectorySize = 6;
constexpr size_t kEntrySize = 16;
// The format gives an icon's size in one byte each (0 meaning 256); larger DIB images are refused.
constexpr int kLargestDibIcon = 1024;

struct Entry {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::span<const uint8_t> data;
};

bool isPng(std::span<const uint8_t> data) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return data.size() >= 8 && std::memcmp(data.data(), kSignature, 8) == 0;
}

// Blends a colour with alpha onto white.
QRgb ontoWhite(int r, int g, int b, int a) {
    auto mix = [a](int c) {
        return (c * a + 255 * (255 - a) + 127) / 255;
    };
    return qRgb(mix(r), mix(g), mix(b));
}

struct PngInput {
    std::span<const uint8_t> data;
    size_t position = 0;
};

void pngRead(png_structp png, png_bytep out, size_t count) {
    auto* in = static_cast<PngInput*>(png_get_io_ptr(png));
    if (in->data.size() - in->position < count)
        png_error(png, "cut short");
    std::memcpy(out, in->data.data() + in->position, count);
    in->position += count;
}

void pngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// The libpng reader of one image; freed however the read ends.
struct PngReader {
    PngReader() {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
        if (png)
            info = png_create_info_struct(png);
    }
    ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

// The header of a PNG, with the reader set to give 8-bit BGRA pixels. libpng reports errors by
// a long jump back here, past nothing that needs destroying.
bool readPngHeader(PngReader& reader, PngInput& input, png_uint_32& width, png_uint_32& height,
                   int& passes) {
    if (setjmp(png_jmpbuf(reader.png)))
        return false;
    png_set_read_fn(reader.png, &input, pngRead);
    png_read_info(reader.png, reader.info);
    width = png_get_image_width(reader.png, reader.info);
    height = png_get_image_height(reader.png, reader.info);
    passes = png_get_interlace_type(reader.png, reader.info) == PNG_INTERLACE_NONE ? 1 : 7;
    png_set_expand(reader.png);
    png_set_strip_16(reader.png);
    png_set_gray_to_rgb(reader.png);
    png_set_filler(reader.png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(reader.png);
    png_read_update_info(reader.png, reader.info);
    return png_get_rowbytes(reader.png, reader.info) == size_t(width) * 4;
}

// Reads the next row of the current pass into `row`.
bool readPngRow(PngReader& reader, uint8_t* row) {
    if (setjmp(png_jmpbuf(reader.png)))
        return false;
    png_read_row(reader.png, row, nullptr);
    return true;
}

// A large PNG reduced while its rows are read (each pass of an interlaced one pixel by pixel),
// blended onto white; a null image when it is not at least twice `atLeast` each way.
QImage reducedPng(std::span<const uint8_t> data, QSize atLeast) {
    PngReader reader;
    if (!reader.info)
        fail("Not enough memory for the icon's PNG image.");
    PngInput input{data, 0};
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int passes = 1;
    if (!readPngHeader(reader, input, width, height, passes))
        fail("The icon's PNG image is damaged.");
    // One row of it is held: at most 65536 pixels wide, like a bitmap.
    if (width == 0 || height == 0 || width > 65536 || int64_t(width) * height > kMaxPicturePixels)
        fail("The icon's PNG image is too large.");
    const int w = int(width);
    const int h = int(height);
    const int factor = PictureReducer::factorFor(w, h, atLeast);
    if (factor <= 1)
        return QImage();
    PictureReducer reducer(
        w, h, factor, passes == 1 ? PictureReducer::Order::TopDown : PictureReducer::Order::Any);
    if (reducer.isNull())
        fail("Not enough memory for the icon's PNG image.");
    std::vector<uint8_t> row(size_t(w) * 4);
    std::vector<QRgb> colours(static_cast<size_t>(w));
    for (int pass = 0; pass < passes; ++pass) {
        const int columns = passes == 1 ? w : int(PNG_PASS_COLS(width, pass));
        const int rows = passes == 1 ? h : int(PNG_PASS_ROWS(height, pass));
        if (columns == 0 || rows == 0)
            continue;
        for (int r = 0; r < rows; ++r) {
            if (!readPngRow(reader, row.data()))
                fail("The icon's PNG image is damaged.");
            for (int x = 0; x < columns; ++x) {
                const uint8_t* p = row.data() + 4 * size_t(x);
                colours[size_t(x)] = ontoWhite(p[2], p[1], p[0], p[3]);
            }
            if (passes == 1)
                reducer.addRow(r, colours.data());
            else
                reducer.addPixels(int(PNG_PASS_START_ROW(pass)) + (r << PNG_PASS_ROW_SHIFT(pass)),
                                  int(PNG_PASS_START_COL(pass)), 1 << PNG_PASS_COL_SHIFT(pass),
                                  columns, colours.data());
        }
    }
    return reducer.result();
}

QImage decodePng(std::span<const uint8_t> data, QSize atLeast) {
    if (atLeast.isValid()) {
        QImage reduced = reducedPng(data, atLeast);
        if (!reduced.isNull())
            return reduced;
    }
    QImage png =
        QImage::fromData(data.data(), int(std::min<size_t>(data.size(), INT32_MAX)), "PNG");
    if (png.isNull())
        fail("The icon's PNG image is damaged.");
    if (int64_t(png.width()) * png.height() > kMaxPicturePixels)
        fail("The icon's PNG image is too large.");
    png = png.convertToFormat(QImage::Format_ARGB32);
    QImage out(png.size(), QImage::Format_RGB32);
    for (int y = 0; y < png.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(png.constScanLine(y));
        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < png.width(); ++x)
            o[x] = ontoWhite(qRed(in[x]), qGreen(in[x]), qBlue(in[x]), qAlpha(in[x]));
    }
    return out;
}

// A DIB icon: the header gives twice the icon's height (colour rows, then the 1-bit mask).
QImage decodeDibIcon(std::span<const uint8_t> data) {
    if (data.size() < sizeof(BITMAPINFOHEADER))
        fail("The icon's image header is cut short.");
    BITMAPINFOHEADER header = readAt<BITMAPINFOHEADER>(data, 0);
    if (!isKnownDibHeaderSize(header.biSize) || data.size() < header.biSize)
        fail("The icon's image header is invalid.");
    if (header.biCompression != BI_RGB)
        fail("The icon's image uses an unsupported compression.");
    const int width = header.biWidth;
    const int height = header.biHeight / 2;
    if (width <= 0 || height <= 0 || width > kLargestDibIcon || height > kLargestDibIcon)
        fail("The icon's image has an invalid size.");
    const int bits = header.biBitCount;
    const size_t colourCount = size_t(dibColourCount(header));
    const size_t coloursAt = header.biSize;
    if ((data.size() - coloursAt) / 4 < colourCount)
        fail("The icon's colour table is cut short.");
    const size_t pixelsAt = coloursAt + colourCount * 4;
    const int64_t stride = dibStride(width, bits);
    if (stride <= 0)
        fail("The icon's image has an unsupported colour depth.");
    const size_t colourBytes = size_t(stride) * size_t(height);
    if (data.size() - pixelsAt < colourBytes)
        fail("The icon's pixels are cut short.");

    // The colour rows alone, through the DIB reader (which checks depth and sizes again).
    BITMAPINFOHEADER colourHeader = header;
    colourHeader.biSize = 40;
    colourHeader.biHeight = height;
    colourHeader.biSizeImage = 0;
    QString error;
    const TBitmap colour = decodeDib(
        colourHeader, {reinterpret_cast<const RGBQUAD*>(data.data() + coloursAt), colourCount},
        nullptr, data.subspan(pixelsAt, colourBytes), &error);
    if (colour.Empty())
        throw PictureError(QStringLiteral("The icon's image is damaged: %1").arg(error));
    QImage image = colour.Image().convertToFormat(QImage::Format_RGB32);

    // 32-bit images carry alpha in their fourth byte; when any pixel uses it, it rules.
    if (bits == 32) {
        const uint8_t* raw = data.data() + pixelsAt;
        bool anyAlpha = false;
        for (size_t i = 3; i < colourBytes && !anyAlpha; i += 4)
            anyAlpha = raw[i] != 0;
        if (anyAlpha) {
            for (int y = 0; y < height; ++y) {
                const uint8_t* in = raw + size_t(height - 1 - y) * size_t(stride);
                QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = 0; x < width; ++x)
                    out[x] = ontoWhite(in[4 * x + 2], in[4 * x + 1], in[4 * x], in[4 * x + 3]);
            }
            return image;
        }
    }

    // The mask: where it is set the screen shows through, XORed with the colour (white here).
    // A file without the mask rows shows its colours as they are.
    const size_t maskStride = size_t(dibStride(width, 1));
    const size_t maskAt = pixelsAt + colourBytes;
    if (data.size() - maskAt >= maskStride * size_t(height)) {
        for (int y = 0; y < height; ++y) {
            const uint8_t* mask = data.data() + maskAt + size_t(height - 1 - y) * maskStride;
            QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x)
                if (mask[x >> 3] & (0x80 >> (x & 7)))
                    out[x] = (out[x] ^ 0x00FFFFFFu) | 0xFF000000u;
        }
    }
    return image;
}

} // namespace

TBitmap IcoFile::decode(std::span<const uint8_t> file, QSize atLeast) {
    if (file.size() < kDirectorySize)
        fail("The file is too short to be an icon.");
    const uint16_t reserved = readAt<uint16_t>(file, 0);
    const uint16_t type = readAt<uint16_t>(file, 2);
    const uint16_t count = readAt<uint16_t>(file, 4);
    if (reserved != 0 || (type != 1 && type != 2))
        fail("The file is not an icon.");
    if (count == 0)
        fail("The icon file holds no image.");
    if ((file.size() - kDirectorySize) / kEntrySize < count)
        fail("The icon directory is cut short.");

    std::vector<Entry> entries;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = kDirectorySize + i * kEntrySize;
        Entry e;
        e.width = file[at] == 0 ? 256 : file[at];
        e.height = file[at + 1] == 0 ? 256 : file[at + 1];
        e.bits = readAt<uint16_t>(file, at + 6);
        const uint32_t size = readAt<uint32_t>(file, at + 8);
        const uint32_t offset = readAt<uint32_t>(file, at + 12);
        if (offset >= file.size() || size == 0 || file.size() - offset < size)
            continue; // an entry pointing outside the file is skipped
        e.data = file.subspan(offset, size);
        // Trust the image's own header for DIB icons: the directory's bytes are often wrong.
        if (!isPng(e.data) && e.data.size() >= 16) {
            e.width = readAt<int32_t>(e.data, 4);
            e.height = readAt<int32_t>(e.data, 8) / 2;
            e.bits = readAt<uint16_t>(e.data, 14);
        }
        entries.push_back(e);
    }
    if (entries.empty())
        fail("The icon file's images lie outside the file.");

    auto areaOf = [](const Entry& e) {
        return e.width > 0 && e.height > 0 ? int64_t(e.width) * e.height : 0;
    };
    const Entry* best = &entries.front();
    for (const Entry& e : entries) {
        const int64_t area = areaOf(e);
        const int64_t bestArea = areaOf(*best);
        if (area > bestArea || (area == bestArea && e.bits > best->bits))
            best = &e;
    }
    QImage image = isPng(best->data) ? decodePng(best->data, atLeast) : decodeDibIcon(best->data);
    return TBitmap(image, pf32bit);
}

} // namespace qdx
