#include "shared/BmpFile.h"

#include "shared/PictureBytes.h"

#include "platform/core/Dib.h"
#include "shared/PictureError.h"

#include <cstring>
#include <vector>

namespace qdx {

namespace {

constexpr uint32_t kCoreHeaderSize = 12;

} // namespace

int BmpFile::bitsFor(TPixelFormat format) {
    const int bits = bitsPerPixel(format);
    return bits == 0 ? 32 : bits;
}

QByteArray BmpFile::encode(const TBitmap& bitmap) {
    if (bitmap.Empty())
        fail("The picture is empty.");
    const int bits = bitsFor(bitmap.PixelFormat());
    const DibLayout layout = dibLayoutOf(bitmap.Image(), bits, bitmap.PixelFormat() == pf16bit);
    const uint64_t pixelBytes =
        uint64_t(dibStride(bitmap.Width(), bits)) * uint64_t(bitmap.Height());
    const bool masks = layout.header.biCompression == BI_BITFIELDS;
    const uint64_t offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + (masks ? 12 : 0) +
                            layout.colours.size() * sizeof(RGBQUAD);
    // Both the pixel size and the file size are 32-bit fields.
    if (offset + pixelBytes > 0xFFFFFFFFu)
        fail("The picture is too large for a bitmap file.");

    QByteArray file(qsizetype(offset + pixelBytes), Qt::Uninitialized);
    uint8_t* out = reinterpret_cast<uint8_t*>(file.data());
    BITMAPFILEHEADER fileHeader;
    fileHeader.bfSize = uint32_t(offset + pixelBytes);
    fileHeader.bfOffBits = uint32_t(offset);
    std::memcpy(out, &fileHeader, sizeof fileHeader);
    out += sizeof fileHeader;
    std::memcpy(out, &layout.header, sizeof layout.header);
    out += sizeof layout.header;
    if (masks) {
        std::memcpy(out, layout.masks, 12);
        out += 12;
    }
    if (!layout.colours.empty()) {
        std::memcpy(out, layout.colours.data(), layout.colours.size() * sizeof(RGBQUAD));
        out += layout.colours.size() * sizeof(RGBQUAD);
    }
    writeDibBits(bitmap.Image(), layout, out);
    return file;
}

TBitmap BmpFile::decode(std::span<const uint8_t> file, QSize atLeast) {
    if (file.size() < sizeof(BITMAPFILEHEADER) + 4)
        fail("The file is too short to be a bitmap.");
    const auto fileHeader = readAt<BITMAPFILEHEADER>(file, 0);
    if (fileHeader.bfType != 0x4D42)
        fail("The file is not a bitmap (no \"BM\" signature).");

    const size_t headerStart = sizeof(BITMAPFILEHEADER);
    const uint32_t headerSize = readAt<uint32_t>(file, headerStart);
    BITMAPINFOHEADER header;
    std::vector<RGBQUAD> colours;
    size_t paletteStart = 0;
    size_t paletteEntrySize = 4;
    if (headerSize == kCoreHeaderSize) {
        // The old core header: 16-bit sizes, bottom-up only, colour table of 3-byte entries.
        if (file.size() < headerStart + kCoreHeaderSize)
            fail("The bitmap header is cut short.");
        header.biWidth = readAt<uint16_t>(file, headerStart + 4);
        header.biHeight = readAt<uint16_t>(file, headerStart + 6);
        header.biPlanes = readAt<uint16_t>(file, headerStart + 8);
        header.biBitCount = readAt<uint16_t>(file, headerStart + 10);
        paletteStart = headerStart + kCoreHeaderSize;
        paletteEntrySize = 3;
    } else {
        if (!isKnownDibHeaderSize(headerSize))
            fail("The bitmap header has an unknown size.");
        if (file.size() < headerStart + headerSize)
            fail("The bitmap header is cut short.");
        header = readAt<BITMAPINFOHEADER>(file, headerStart);
        paletteStart = headerStart + headerSize;
    }
    if (header.biCompression == BI_JPEG || header.biCompression == BI_PNG)
        fail("The bitmap holds an embedded JPEG or PNG picture, which is not supported.");

    uint32_t masks[3] = {0, 0, 0};
    const bool bitfields =
        header.biCompression == BI_BITFIELDS || header.biCompression == BI_ALPHABITFIELDS;
    if (bitfields) {
        if (headerSize >= 52) {
            std::memcpy(masks, file.data() + headerStart + 40, 12);
        } else {
            const size_t maskBytes = header.biCompression == BI_ALPHABITFIELDS ? 16 : 12;
            if (file.size() < paletteStart + maskBytes)
                fail("The bitmap's colour masks are cut short.");
            std::memcpy(masks, file.data() + paletteStart, 12);
            paletteStart += maskBytes;
        }
    }

    // Pixels start where the file header says; a zero or impossible offset means "right after the
    // colour table", which some writers rely on.
    size_t colourCount = headerSize == kCoreHeaderSize
                             ? (header.biBitCount <= 8 ? size_t(1) << header.biBitCount : 0)
                             : size_t(dibColourCount(header));
    const size_t offBits = fileHeader.bfOffBits;
    const bool offsetUsable = offBits >= paletteStart && offBits <= file.size();
    if (offsetUsable)
        colourCount = std::min(colourCount, (offBits - paletteStart) / paletteEntrySize);
    if ((file.size() - paletteStart) / paletteEntrySize < colourCount)
        fail("The bitmap's colour table is cut short.");
    colours.resize(colourCount);
    for (size_t i = 0; i < colourCount; ++i) {
        const uint8_t* entry = file.data() + paletteStart + i * paletteEntrySize;
        colours[i].rgbBlue = entry[0];
        colours[i].rgbGreen = entry[1];
        colours[i].rgbRed = entry[2];
    }
    const size_t pixelStart =
        offsetUsable ? offBits : paletteStart + colourCount * paletteEntrySize;

    QString error;
    TBitmap bitmap = decodeDib(header, colours, bitfields ? masks : nullptr,
                               file.subspan(pixelStart), &error, atLeast);
    if (bitmap.Empty())
        throw PictureError(error);
    return bitmap;
}

} // namespace qdx
