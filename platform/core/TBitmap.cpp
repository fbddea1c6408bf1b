#include "platform/core/TBitmap.h"

#include "platform/core/Palettes.h"

#include <QPainter>

#include <cstring>

int bitsPerPixel(TPixelFormat format) {
    switch (format) {
    case pf1bit:
        return 1;
    case pf4bit:
        return 4;
    case pf8bit:
        return 8;
    case pf15bit:
    case pf16bit:
        return 16;
    case pf24bit:
        return 24;
    case pfDevice:
    case pf32bit:
        return 32;
    case pfCustom:
        break;
    }
    return 0;
}

namespace {

QImage::Format storageOf(TPixelFormat format) {
    switch (format) {
    case pf1bit:
        return QImage::Format_Mono;
    case pf4bit:
    case pf8bit:
        return QImage::Format_Indexed8;
    case pf15bit:
        return QImage::Format_RGB555;
    case pf16bit:
        return QImage::Format_RGB16;
    case pf24bit:
        return QImage::Format_BGR888;
    case pfDevice:
    case pf32bit:
    case pfCustom:
        break;
    }
    return QImage::Format_RGB32;
}

const QList<QRgb>& blackAndWhite() {
    static const QList<QRgb> table = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    return table;
}

// Only pure white stays white; every other colour becomes black.
QImage toMonochrome(const QImage& picture) {
    const QImage source = picture.format() == QImage::Format_RGB32
                              ? picture
                              : picture.convertToFormat(QImage::Format_RGB32);
    QImage result(source.size(), QImage::Format_Mono);
    result.setColorTable(blackAndWhite());
    result.fill(0);
    for (int y = 0; y < source.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        uchar* out = result.scanLine(y);
        for (int x = 0; x < source.width(); ++x)
            if ((in[x] & 0xFFFFFFu) == 0xFFFFFFu)
                out[x >> 3] |= static_cast<uchar>(0x80u >> (x & 7));
    }
    return result;
}

// A blank picture of the storage a depth needs, with that depth's palette.
QImage blankOf(int width, int height, TPixelFormat format) {
    QImage image(width, height, storageOf(format));
    if (format == pf1bit)
        image.setColorTable(blackAndWhite());
    else if (format == pf4bit)
        image.setColorTable(qdx::standardPalette16());
    else if (format == pf8bit)
        image.setColorTable(qdx::halftonePalette256());
    image.fill(0);
    return image;
}

// A reduction to 2, 16 or 256 colours maps every picture onto the fixed palette of the depth
// (black and white for 2 colours), also one that is already indexed with other colours: a red
// and blue 1-bit picture becomes black and white. Only a picture already in that palette is kept
// as it is. Other depths convert as convertedTo does.
QImage reducedTo(const QImage& image, TPixelFormat format) {
    if (image.isNull())
        return image;
    switch (format) {
    case pf1bit:
        if (image.format() == QImage::Format_Mono && image.colorTable() == blackAndWhite())
            return image;
        return toMonochrome(image);
    case pf4bit:
        if (image.format() == QImage::Format_Indexed8 &&
            image.colorTable() == qdx::standardPalette16())
            return image;
        return qdx::toIndexed(image, qdx::standardPalette16());
    case pf8bit:
        if (image.format() == QImage::Format_Indexed8 &&
            image.colorTable() == qdx::halftonePalette256())
            return image;
        return qdx::toIndexed(image, qdx::halftonePalette256());
    default:
        return TBitmap::convertedTo(image, format);
    }
}

} // namespace

TPixelFormat TBitmap::depthOf(const QImage& image) {
    switch (image.format()) {
    case QImage::Format_Invalid:
        return pfDevice;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return pf1bit;
    case QImage::Format_Indexed8:
        return image.colorCount() <= 16 ? pf4bit : pf8bit;
    case QImage::Format_RGB555:
        return pf15bit;
    case QImage::Format_RGB16:
        return pf16bit;
    case QImage::Format_BGR888:
    case QImage::Format_RGB888:
        return pf24bit;
    default:
        return pf32bit;
    }
}

QImage TBitmap::convertedTo(const QImage& image, TPixelFormat format) {
    if (image.isNull())
        return image;
    switch (format) {
    case pf1bit:
        if (image.format() == QImage::Format_Mono)
            return image;
        if (image.format() == QImage::Format_MonoLSB)
            return image.convertToFormat(QImage::Format_Mono);
        return toMonochrome(image);
    case pf4bit:
        if (image.format() == QImage::Format_Indexed8 && image.colorCount() <= 16)
            return image;
        return qdx::toIndexed(image, qdx::standardPalette16());
    case pf8bit:
        if (image.format() == QImage::Format_Indexed8)
            return image;
        return qdx::toIndexed(image, qdx::halftonePalette256());
    case pfCustom:
        return image;
    default: {
        const QImage::Format target = storageOf(format);
        if (image.format() == target)
            return image;
        // Drop any alpha first: a bitmap of these depths is opaque.
        return image.convertToFormat(target, Qt::ThresholdDither | Qt::AvoidDither);
    }
    }
}

TBitmap::TBitmap(const QImage& image) : m_format(depthOf(image)) {
    m_image = image.isNull() ? image : convertedTo(image, m_format);
}

TBitmap::TBitmap(const QImage& image, TPixelFormat format) : m_image(image), m_format(format) {
    Q_ASSERT(image.isNull() || format == pfCustom || image.format() == storageOf(format));
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == pfCustom)
        return;
    if (!m_image.isNull())
        m_image = reducedTo(m_image, format);
    m_format = format;
}

void TBitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height())
        return;
    if (width == 0 || height == 0) {
        m_image = QImage();
        return;
    }
    QImage resized = blankOf(width, height, m_format);
    if (!m_image.isNull()) {
        if (resized.format() == QImage::Format_Indexed8 || resized.format() == QImage::Format_Mono)
            resized.setColorTable(m_image.colorTable());
        const int rows = std::min(height, m_image.height());
        const qsizetype bytes = std::min<qsizetype>(resized.bytesPerLine(), m_image.bytesPerLine());
        for (int y = 0; y < rows; ++y)
            std::memcpy(resized.scanLine(y), m_image.constScanLine(y), bytes);
    }
    m_image = std::move(resized);
}

void TBitmap::SetWidth(int width) {
    SetSize(width, Height());
}

void TBitmap::SetHeight(int height) {
    SetSize(Width(), height);
}

void TBitmap::Assign(const QImage& picture) {
    m_image = convertedTo(picture, m_format);
}
