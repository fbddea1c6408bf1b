#pragma once

// The format of a video stream as AVIStreamReadFormat gives it: a BITMAPINFOHEADER followed by
// bit masks, a colour table or a codec's extra data. Parsed as hostile input: every size is
// checked before use and a clear message comes back instead of a format.

#include "platform/core/Dib.h"
#include "platform/core/VfwTypes.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qdx::vfw {

class VideoFormat {
public:
    // Largest frame accepted: 16384 pixels a side and 2^26 pixels, as the picture routines.
    static constexpr int kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = int64_t(1) << 26;

    static std::optional<VideoFormat> parse(std::span<const uint8_t> format, QString* error);
    static std::optional<VideoFormat> parse(const QByteArray& format, QString* error);

    // The 40-byte header as stored (biSize normalised to 40).
    const BITMAPINFOHEADER& header() const { return m_header; }
    int width() const { return m_header.biWidth; }
    int height() const { return m_header.biHeight < 0 ? -m_header.biHeight : m_header.biHeight; }
    bool topDown() const { return m_header.biHeight < 0; }
    int bitCount() const { return m_header.biBitCount; }
    FOURCC compression() const { return m_header.biCompression; }

    // Uncompressed DIB frames (BI_RGB 1/4/8/16/24/32 bits, BI_BITFIELDS 16/32 bits).
    bool uncompressed() const { return m_uncompressed; }
    bool bitfields() const { return m_bitfields; }
    const uint32_t* masks() const { return m_masks; }
    // Up to 8 bits: the full table of 2^bits colours (entries the format lacks are black).
    const std::vector<RGBQUAD>& colours() const { return m_colours; }
    // Bytes after the 40-byte header: a compressed format's codec extra data.
    const QByteArray& extraData() const { return m_extra; }
    // Bytes of one uncompressed frame.
    int64_t imageSize() const;

    // Header, masks and colour table of an uncompressed frame in the stored layout, as a packed
    // DIB begins (biClrUsed 0 and the full colour table, biSizeImage set).
    std::vector<uint8_t> packedHeader() const;

private:
    BITMAPINFOHEADER m_header;
    bool m_uncompressed = false;
    bool m_bitfields = false;
    uint32_t m_masks[3] = {0, 0, 0};
    std::vector<RGBQUAD> m_colours;
    QByteArray m_extra;
};

} // namespace qdx::vfw
