#include "platform/core/Palettes.h"

namespace qdx {

const QList<QRgb>& standardPalette16() {
    static const QList<QRgb> palette = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(128, 128, 128),
        qRgb(192, 192, 192), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
    };
    return palette;
}

const QList<QRgb>& webPalette216() {
    static const QList<QRgb> palette = [] {
        QList<QRgb> p;
        p.reserve(216);
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    p.append(qRgb(r * 51, g * 51, b * 51));
        return p;
    }();
    return palette;
}

const QList<QRgb>& halftonePalette256() {
    // The colour cube first, then the half-intensity colours of the 16-colour palette, light
    // grey, and a ramp of greys between the cube's grey levels.
    static const QList<QRgb> palette = [] {
        QList<QRgb> p = webPalette216();
        for (QRgb c : {qRgb(128, 0, 0), qRgb(0, 128, 0), qRgb(128, 128, 0), qRgb(0, 0, 128),
                       qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(128, 128, 128),
                       qRgb(192, 192, 192)})
            p.append(c);
        for (int v = 8; v <= 248; v += 8)
            if (v != 128 && v != 192)
                p.append(qRgb(v, v, v));
        p.append(qRgb(255, 251, 240));
        p.append(qRgb(160, 160, 164));
        p.append(qRgb(192, 220, 192));
        Q_ASSERT(p.size() == 256);
        return p;
    }();
    return palette;
}

NearestColour::NearestColour(const QList<QRgb>& palette) : m_palette(palette) {}

uint8_t NearestColour::search(QRgb colour) const {
    const int r = qRed(colour), g = qGreen(colour), b = qBlue(colour);
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < m_palette.size(); ++i) {
        const int dr = r - qRed(m_palette[i]);
        const int dg = g - qGreen(m_palette[i]);
        const int db = b - qBlue(m_palette[i]);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0)
                break;
        }
    }
    return static_cast<uint8_t>(best);
}

uint8_t NearestColour::operator()(QRgb colour) {
    const uint32_t key = (colour & 0xFFFFFFu) | 0x01000000u;
    // Fibonacci hashing of the 24-bit colour into the cache.
    const uint32_t slot = ((colour & 0xFFFFFFu) * 2654435761u) >> (32 - kCacheBits);
    if (m_keys[slot] == key)
        return m_values[slot];
    const uint8_t index = search(colour);
    m_keys[slot] = key;
    m_values[slot] = index;
    return index;
}

QImage toIndexed(const QImage& picture, const QList<QRgb>& palette) {
    const QImage source = picture.format() == QImage::Format_RGB32
                              ? picture
                              : picture.convertToFormat(QImage::Format_RGB32);
    QImage result(source.size(), QImage::Format_Indexed8);
    result.setColorTable(palette);
    result.setDotsPerMeterX(picture.dotsPerMeterX());
    result.setDotsPerMeterY(picture.dotsPerMeterY());
    NearestColour nearest(palette);
    if (source.width() == 0)
        return result;
    for (int y = 0; y < source.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        uchar* out = result.scanLine(y);
        QRgb previous = ~in[0];
        uchar previousIndex = 0;
        for (int x = 0; x < source.width(); ++x) {
            if (in[x] != previous) {
                previous = in[x];
                previousIndex = nearest(previous);
            }
            out[x] = previousIndex;
        }
    }
    return result;
}

} // namespace qdx
