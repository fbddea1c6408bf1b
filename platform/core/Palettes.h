#pragma once

#include <QList>
#include <QRgb>
#include <QImage>

#include <array>
#include <cstdint>

namespace qdx {

// The fixed palettes of the reduced colour depths. Index 0 is black in all of them.
const QList<QRgb>& standardPalette16();
const QList<QRgb>& halftonePalette256();
// The 216-colour web palette: index 36 * r + 6 * g + b for the levels 0..5 (value level * 51).
const QList<QRgb>& webPalette216();

// Maps colours to the index of the nearest palette colour (least squared distance in RGB, the
// lowest index on a tie). Results are cached per colour, so pictures with few distinct colours
// (screens, drawings) cost one table look-up per pixel. Not thread-safe: one per thread.
class NearestColour {
public:
    explicit NearestColour(const QList<QRgb>& palette);
    uint8_t operator()(QRgb colour);

private:
    uint8_t search(QRgb colour) const;
    QList<QRgb> m_palette;
    static constexpr int kCacheBits = 14;
    std::array<uint32_t, 1u << kCacheBits> m_keys{};  // colour | 0x01000000 when filled
    std::array<uint8_t, 1u << kCacheBits> m_values{};
};

// The picture as an 8-bit indexed image over the palette, each pixel the nearest colour, without
// dithering.
QImage toIndexed(const QImage& picture, const QList<QRgb>& palette);

} // namespace qdx
