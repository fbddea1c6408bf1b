#include "platform/codec/VideoFormat.h"

#include <cstring>

namespace qdx::vfw {

namespace {

std::optional<VideoFormat> failWith(QString* error, const char* text) {
    if (error)
        *error = QString::fromUtf8(text);
    return std::nullopt;
}

} // namespace

std::optional<VideoFormat> VideoFormat::parse(std::span<const uint8_t> data, QString* error) {
    if (data.size() < sizeof(BITMAPINFOHEADER))
        return failWith(error, "The video format is cut short.");
    VideoFormat f;
    std::memcpy(&f.m_header, data.data(), sizeof f.m_header);
    BITMAPINFOHEADER& h = f.m_header;
    // The colour table and masks follow the header as its size says; a size that is not one of
    // the known header sizes (or larger than the format) is taken as the plain 40-byte header.
    uint32_t headerSize = h.biSize;
    if (!qdx::isKnownDibHeaderSize(headerSize) || headerSize > data.size())
        headerSize = sizeof(BITMAPINFOHEADER);
    h.biSize = sizeof(BITMAPINFOHEADER);

    const int64_t width = h.biWidth;
    const int64_t height = h.biHeight < 0 ? -int64_t(h.biHeight) : int64_t(h.biHeight);
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        width * height > kMaxPixels)
        return failWith(error, "The video format has an invalid frame size.");

    const uint32_t compression = h.biCompression;
    const int bits = h.biBitCount;
    f.m_bitfields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
    f.m_uncompressed = (compression == BI_RGB && (bits == 1 || bits == 4 || bits == 8 ||
                                                  bits == 16 || bits == 24 || bits == 32)) ||
                       (f.m_bitfields && (bits == 16 || bits == 32));
    if ((compression == BI_RGB || f.m_bitfields) && !f.m_uncompressed)
        return failWith(error, "The video format has an unsupported bit count.");
    if (h.biHeight < 0 && !f.m_uncompressed)
        return failWith(error, "The video format has an invalid frame size.");

    size_t offset = headerSize;
    if (f.m_bitfields) {
        if (headerSize < 52) {
            if (data.size() < offset + 12)
                return failWith(error, "The video format's colour masks are cut short.");
            offset += compression == BI_ALPHABITFIELDS && data.size() >= offset + 16 ? 16 : 12;
        }
        std::memcpy(f.m_masks, data.data() + 40, 12);
    }
    if (bits >= 1 && bits <= 8) {
        const size_t entries = size_t(1) << bits;
        size_t announced = h.biClrUsed != 0 ? std::min<size_t>(h.biClrUsed, entries) : entries;
        f.m_colours.assign(entries, RGBQUAD{});
        const size_t available = data.size() > offset ? (data.size() - offset) / 4 : 0;
        const size_t n = std::min(announced, available);
        if (n > 0)
            std::memcpy(f.m_colours.data(), data.data() + offset, n * 4);
        if (f.m_uncompressed && n == 0) {
            // A palettised film without a colour table: greys, so the picture stays readable.
            for (size_t i = 0; i < entries; ++i) {
                const auto v = uint8_t(i * 255 / (entries - 1));
                f.m_colours[i] = RGBQUAD{v, v, v, 0};
            }
        }
    }
    if (data.size() > sizeof(BITMAPINFOHEADER))
        f.m_extra = QByteArray(reinterpret_cast<const char*>(data.data()) + 40,
                               qsizetype(data.size() - 40));
    if (f.m_uncompressed) {
        h.biClrUsed = 0;
        h.biSizeImage = uint32_t(f.imageSize());
    }
    return f;
}

std::optional<VideoFormat> VideoFormat::parse(const QByteArray& format, QString* error) {
    return parse(
        std::span(reinterpret_cast<const uint8_t*>(format.constData()), size_t(format.size())),
        error);
}

int64_t VideoFormat::imageSize() const {
    return qdx::dibStride(width(), bitCount()) * height();
}

std::vector<uint8_t> VideoFormat::packedHeader() const {
    std::vector<uint8_t> out(sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER h = m_header;
    h.biClrUsed = 0;
    h.biSizeImage = uint32_t(imageSize());
    if (m_header.biCompression == BI_ALPHABITFIELDS)
        h.biCompression = BI_BITFIELDS;
    std::memcpy(out.data(), &h, sizeof h);
    if (m_bitfields) {
        out.resize(out.size() + 12);
        std::memcpy(out.data() + 40, m_masks, 12);
    }
    if (!m_colours.empty()) {
        const size_t at = out.size();
        out.resize(at + m_colours.size() * 4);
        std::memcpy(out.data() + at, m_colours.data(), m_colours.size() * 4);
    }
    return out;
}

} // namespace qdx::vfw
