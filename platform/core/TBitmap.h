#pragma once

#include <QImage>

// Colour depths of a bitmap, named as the toolkit names them.
enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// Bits per pixel of a device-independent bitmap of this depth (pfDevice: 32, pfCustom: 0).
int bitsPerPixel(TPixelFormat format);

// A picture with a colour depth. Setting the depth converts the pixels:
//  - pf1bit: only pure white stays white, every other pixel becomes black;
//  - pf4bit, pf8bit: each pixel takes the nearest colour of a fixed 16- or 256-colour palette,
//    without dithering;
//  - pf15bit, pf16bit: 5-5-5 and 5-6-5 bits; pf24bit, pf32bit: true colour.
// Storage: pf1bit is QImage::Format_Mono, pf4bit and pf8bit Format_Indexed8 (with at most 16 or
// 256 colours), pf15bit Format_RGB555, pf16bit Format_RGB16, pf24bit Format_BGR888 (the byte
// order of a DIB row), pf32bit and pfDevice Format_RGB32.
class TBitmap {
public:
    TBitmap() = default;
    // Adopts a picture; the depth follows the picture's own format (see depthOf).
    explicit TBitmap(const QImage& image);
    // Adopts a picture already stored as `format` requires (readers that know the file's depth).
    TBitmap(const QImage& image, TPixelFormat format);

    int Width() const { return m_image.width(); }
    int Height() const { return m_image.height(); }
    bool Empty() const { return m_image.isNull(); }

    // Resizing keeps the depth and the pixels that still fit; new pixels are black.
    void SetWidth(int width);
    void SetHeight(int height);
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return m_format; }
    void SetPixelFormat(TPixelFormat format);

    // Copies a picture into this bitmap: the bitmap takes the picture's size and keeps its own
    // depth, converting the pixels. A bitmap whose depth was never set (pfDevice) stores them as
    // 32-bit pixels.
    void Assign(const QImage& picture);

    const QImage& Image() const { return m_image; }
    // Direct pixel access for code that draws into the bitmap; the storage format must be kept.
    QImage& Image() { return m_image; }

    // The depth a picture stored in this QImage format has.
    static TPixelFormat depthOf(const QImage& image);
    // The picture converted to a depth by the rules above (a copy; the source is unchanged).
    static QImage convertedTo(const QImage& image, TPixelFormat format);

private:
    QImage m_image;
    TPixelFormat m_format = pfDevice;
};
