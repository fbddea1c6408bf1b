#include "shared/GifFile.h"

#include "platform/core/Palettes.h"
#include "platform/core/PictureReducer.h"
#include "shared/PictureError.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace qdx {

namespace {

[[noreturn]] void fail(const QString& text) {
    throw PictureError(text);
}

QString gifErrorText(int code) {
    const char* text = GifErrorString(code);
    return text ? QString::fromUtf8(text) : QStringLiteral("unknown error %1").arg(code);
}

// Owners of giflib objects; copies are deleted because each frees its object once.
struct ColourMap {
    explicit ColourMap(int count, const GifColorType* colours)
        : map(GifMakeMapObject(count, colours)) {}
    ~ColourMap() { GifFreeMapObject(map); }
    ColourMap(const ColourMap&) = delete;
    ColourMap& operator=(const ColourMap&) = delete;
    ColorMapObject* map;
};

struct GifWriter {
    GifWriter() = default;
    ~GifWriter() {
        if (gif)
            EGifCloseFile(gif, nullptr);
    }
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;
    // Closing writes the trailer; the writer is released whether or not that succeeds.
    int close() {
        int error = 0;
        const int result = EGifCloseFile(gif, &error);
        gif = nullptr;
        return result == GIF_OK ? 0 : error;
    }
    GifFileType* gif = nullptr;
};

struct GifReader {
    GifReader() = default;
    ~GifReader() {
        if (gif)
            DGifCloseFile(gif, nullptr);
    }
    GifReader(const GifReader&) = delete;
    GifReader& operator=(const GifReader&) = delete;
    GifFileType* gif = nullptr;
};

int appendOutput(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* out = static_cast<QByteArray*>(gif->UserData);
    out->append(reinterpret_cast<const char*>(bytes), length);
    return length;
}

struct InputSpan {
    std::span<const uint8_t> data;
    size_t position = 0;
};

int readInput(GifFileType* gif, GifByteType* bytes, int length) {
    auto* in = static_cast<InputSpan*>(gif->UserData);
    const size_t n = std::min(size_t(std::max(length, 0)), in->data.size() - in->position);
    std::memcpy(bytes, in->data.data() + in->position, n);
    in->position += n;
    return int(n);
}

// The smallest colour-table size giflib accepts (a power of two, at least 2) for `count` colours.
int mapSizeFor(int count) {
    int size = 2;
    while (size < count)
        size *= 2;
    return size;
}

// The web-palette levels of every channel value.
const std::array<uint8_t, 256>& webLevels() {
    static const std::array<uint8_t, 256> levels = [] {
        std::array<uint8_t, 256> l{};
        for (int c = 0; c < 256; ++c)
            l[size_t(c)] = uint8_t((c + 3) / 51);
        return l;
    }();
    return levels;
}

// The bitmap as palette indices over the web palette, one byte per pixel, row after row.
std::vector<uint8_t> webIndices(const QImage& picture) {
    const auto& level = webLevels();
    const int w = picture.width();
    const int h = picture.height();
    std::vector<uint8_t> indices(size_t(w) * size_t(h));
    auto index = [&](uint8_t r, uint8_t g, uint8_t b) {
        return uint8_t(36 * level[r] + 6 * level[g] + level[b]);
    };
    if (picture.format() == QImage::Format_BGR888) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* in = picture.constScanLine(y);
            uint8_t* out = indices.data() + size_t(y) * size_t(w);
            for (int x = 0; x < w; ++x, in += 3)
                out[x] = index(in[2], in[1], in[0]);
        }
        return indices;
    }
    const QImage rgb =
        picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
            ? picture
            : picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uint8_t* out = indices.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            out[x] = index(uint8_t(qRed(in[x])), uint8_t(qGreen(in[x])), uint8_t(qBlue(in[x])));
    }
    return indices;
}

std::vector<GifColorType> gifColours(const QList<QRgb>& table, int size) {
    std::vector<GifColorType> colours(size_t(size), GifColorType{0, 0, 0});
    for (int i = 0; i < size && i < table.size(); ++i)
        colours[size_t(i)] = {GifByteType(qRed(table[i])), GifByteType(qGreen(table[i])),
                              GifByteType(qBlue(table[i]))};
    return colours;
}

} // namespace

uint8_t GifFile::webIndex(int red, int green, int blue) {
    const auto& level = webLevels();
    return uint8_t(36 * level[uint8_t(red)] + 6 * level[uint8_t(green)] + level[uint8_t(blue)]);
}

QByteArray GifFile::encode(const TBitmap& bitmap) {
    if (bitmap.Empty())
        fail(QStringLiteral("The picture is empty."));
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    if (w > 0xFFFF || h > 0xFFFF)
        fail(QStringLiteral(
            "The picture is too large for a GIF file (at most 65535 pixels a side)."));

    const QImage& image = bitmap.Image();
    const bool ownPalette = (bitmap.PixelFormat() == pf4bit || bitmap.PixelFormat() == pf8bit) &&
                            image.format() == QImage::Format_Indexed8 && image.colorCount() > 0;
    QList<QRgb> table;
    std::vector<uint8_t> indices;
    if (ownPalette) {
        table = image.colorTable();
    } else {
        table = webPalette216();
        indices = webIndices(image);
    }
    const int mapSize = mapSizeFor(int(table.size()));
    const std::vector<GifColorType> colours = gifColours(table, mapSize);
    ColourMap map(mapSize, colours.data());
    if (!map.map)
        fail(QStringLiteral("Not enough memory for the GIF colour table."));

    QByteArray out;
    out.reserve(qsizetype(w) * h / 2 + 1024);
    GifWriter writer;
    int error = 0;
    writer.gif = EGifOpen(&out, appendOutput, &error);
    if (!writer.gif)
        fail(QStringLiteral("Cannot start the GIF file: %1").arg(gifErrorText(error)));
    if (EGifPutScreenDesc(writer.gif, w, h, 8, 0, map.map) == GIF_ERROR ||
        EGifPutImageDesc(writer.gif, 0, 0, w, h, false, nullptr) == GIF_ERROR)
        fail(
            QStringLiteral("Cannot write the GIF header: %1").arg(gifErrorText(writer.gif->Error)));
    // giflib masks every row it is given in place (to the colour map's depth): the picture's own
    // rows are copied into a scratch line first, so the caller's pixels stay as they are.
    std::vector<GifPixelType> line(ownPalette ? size_t(w) : 0);
    for (int y = 0; y < h; ++y) {
        GifPixelType* row = line.data();
        if (ownPalette)
            std::memcpy(row, image.constScanLine(y), size_t(w));
        else
            row = indices.data() + size_t(y) * size_t(w);
        if (EGifPutLine(writer.gif, row, w) == GIF_ERROR)
            fail(QStringLiteral("Cannot write the GIF pixels: %1")
                     .arg(gifErrorText(writer.gif->Error)));
    }
    if (const int closeError = writer.close())
        fail(QStringLiteral("Cannot finish the GIF file: %1").arg(gifErrorText(closeError)));
    return out;
}

TBitmap GifFile::decode(std::span<const uint8_t> file, QSize atLeast) {
    InputSpan input{file, 0};
    GifReader reader;
    int error = 0;
    reader.gif = DGifOpen(&input, readInput, &error);
    if (!reader.gif)
        fail(QStringLiteral("The file is not a readable GIF: %1").arg(gifErrorText(error)));
    GifFileType* gif = reader.gif;
    auto gifFailure = [&](const char* what) {
        fail(QStringLiteral("The GIF file is damaged (%1): %2")
                 .arg(QLatin1String(what), gifErrorText(gif->Error)));
    };

    // Walk the records up to the first image, keeping the transparency of the graphic control
    // extension that precedes it.
    int transparent = NO_TRANSPARENT_COLOR;
    while (true) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            gifFailure("record");
        if (type == TERMINATE_RECORD_TYPE)
            fail(QStringLiteral("The GIF file holds no picture."));
        if (type == IMAGE_DESC_RECORD_TYPE)
            break;
        if (type != EXTENSION_RECORD_TYPE)
            fail(QStringLiteral("The GIF file is damaged (unknown record)."));
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
            gifFailure("extension");
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
            GraphicsControlBlock control;
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                transparent = control.TransparentColor;
        }
        while (block) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                gifFailure("extension");
        }
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR)
        gifFailure("image header");

    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0)
        fail(QStringLiteral("The GIF picture has no pixels."));
    const int64_t canvasWidth = std::max<int64_t>(gif->SWidth, int64_t(desc.Left) + desc.Width);
    const int64_t canvasHeight = std::max<int64_t>(gif->SHeight, int64_t(desc.Top) + desc.Height);
    if (canvasWidth * canvasHeight > kMaxPicturePixels)
        fail(QStringLiteral("The GIF picture is too large (%1 x %2 pixels).")
                 .arg(canvasWidth)
                 .arg(canvasHeight));
    const int cw = int(canvasWidth);
    const int ch = int(canvasHeight);

    QList<QRgb> table;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (map && map->ColorCount > 0 && map->Colors) {
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i)
            table.append(qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
    } else {
        // No colour table at all: show the indices as grey levels.
        for (int i = 0; i < 256; ++i)
            table.append(qRgb(i, i, i));
    }

    std::vector<GifPixelType> row(size_t(desc.Width));
    auto readRows = [&](auto&& store) {
        if (desc.Interlace) {
            static constexpr int kStart[4] = {0, 4, 2, 1};
            static constexpr int kStep[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = kStart[pass]; y < desc.Height; y += kStep[pass])
                    store(y);
        } else {
            for (int y = 0; y < desc.Height; ++y)
                store(y);
        }
    };

    if (const int factor = PictureReducer::factorFor(cw, ch, atLeast); factor > 1) {
        // Each canvas row is made in 32 bits as it is read and goes into the reducer; rows the
        // image does not cover are the background.
        QRgb colour = qRgb(255, 255, 255);
        if (gif->SColorMap && gif->SBackGroundColor < gif->SColorMap->ColorCount) {
            const GifColorType& c = gif->SColorMap->Colors[gif->SBackGroundColor];
            colour = qRgb(c.Red, c.Green, c.Blue);
        }
        PictureReducer reducer(cw, ch, factor,
                               desc.Interlace ? PictureReducer::Order::Any
                                              : PictureReducer::Order::TopDown);
        if (reducer.isNull())
            fail(QStringLiteral("Not enough memory for the GIF picture."));
        std::vector<QRgb> line(size_t(cw), colour);
        for (int y = 0; y < desc.Top; ++y)
            reducer.addRow(y, line.data());
        readRows([&](int y) {
            if (DGifGetLine(gif, row.data(), desc.Width) == GIF_ERROR)
                gifFailure("pixels");
            std::fill(line.begin(), line.end(), colour);
            QRgb* out = line.data() + desc.Left;
            for (int x = 0; x < desc.Width; ++x) {
                const int index = row[size_t(x)];
                if (index != transparent)
                    out[x] = index < table.size() ? table[index] : qRgb(0, 0, 0);
            }
            reducer.addRow(desc.Top + y, line.data());
        });
        std::fill(line.begin(), line.end(), colour);
        for (int y = desc.Top + desc.Height; y < ch; ++y)
            reducer.addRow(y, line.data());
        return TBitmap(reducer.result(), pf32bit);
    }

    // Indices of the canvas; -1 where the image leaves the background showing.
    std::vector<int16_t> canvas(size_t(cw) * size_t(ch), -1);
    int highest = 0;
    auto storeRow = [&](int y) {
        if (DGifGetLine(gif, row.data(), desc.Width) == GIF_ERROR)
            gifFailure("pixels");
        int16_t* out = canvas.data() + size_t(desc.Top + y) * size_t(cw) + size_t(desc.Left);
        for (int x = 0; x < desc.Width; ++x) {
            const int index = row[size_t(x)];
            if (index == transparent)
                continue;
            out[x] = int16_t(index);
            highest = std::max(highest, index);
        }
    };
    readRows(storeRow);
    // Indices past the colour table are black, as the table is padded with black.
    while (table.size() <= highest)
        table.append(qRgb(0, 0, 0));

    int background = -1;
    if (std::find(canvas.begin(), canvas.end(), int16_t(-1)) != canvas.end()) {
        QRgb colour = qRgb(255, 255, 255);
        if (gif->SColorMap && gif->SBackGroundColor < gif->SColorMap->ColorCount) {
            const GifColorType& c = gif->SColorMap->Colors[gif->SBackGroundColor];
            colour = qRgb(c.Red, c.Green, c.Blue);
        }
        background = int(table.indexOf(colour));
        if (background < 0 && table.size() < 256) {
            background = int(table.size());
            table.append(colour);
        }
        if (background < 0) {
            // A full palette without the background colour: the picture needs true colour.
            QImage image(cw, ch, QImage::Format_RGB32);
            if (image.isNull())
                fail(QStringLiteral("Not enough memory for the GIF picture."));
            for (int y = 0; y < ch; ++y) {
                QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
                const int16_t* in = canvas.data() + size_t(y) * size_t(cw);
                for (int x = 0; x < cw; ++x)
                    out[x] = in[x] < 0 ? colour : table[in[x]];
            }
            return TBitmap(image, pf32bit);
        }
    }
    QImage image(cw, ch, QImage::Format_Indexed8);
    if (image.isNull())
        fail(QStringLiteral("Not enough memory for the GIF picture."));
    image.setColorTable(table);
    for (int y = 0; y < ch; ++y) {
        uint8_t* out = image.scanLine(y);
        const int16_t* in = canvas.data() + size_t(y) * size_t(cw);
        for (int x = 0; x < cw; ++x)
            out[x] = uint8_t(in[x] < 0 ? background : in[x]);
    }
    return TBitmap(image, table.size() <= 16 ? pf4bit : pf8bit);
}

} // namespace qdx
