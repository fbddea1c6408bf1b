#include "tests/vfw/FilmTools.h"

#include "platform/core/Dib.h"
#include "platform/vfw/CompressorChooser.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <cstring>
#include <span>

namespace qdx::vfw::test {

QString makeFilm(const QString& path, const QString& source, const QStringList& outputArguments,
                 const QString& audioSource) {
    QStringList args = {QStringLiteral("-v"),
                        QStringLiteral("error"),
                        QStringLiteral("-y"),
                        QStringLiteral("-f"),
                        QStringLiteral("lavfi"),
                        QStringLiteral("-i"),
                        source};
    if (!audioSource.isEmpty())
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << audioSource << QStringLiteral("-shortest");
    args << outputArguments << path;
    const auto result = qdx::test::run(QStringLiteral("ffmpeg"), args);
    if (result.exitCode != 0)
        return QStringLiteral("ffmpeg failed: ") + QString::fromUtf8(result.err);
    return {};
}

std::vector<QByteArray> ffmpegFrames(const QString& path, int width, int height,
                                     const QStringList& inputArguments) {
    QStringList args = {QStringLiteral("-v"), QStringLiteral("error")};
    args << inputArguments << QStringLiteral("-i") << path << QStringLiteral("-map")
         << QStringLiteral("0:v:0") << QStringLiteral("-fps_mode") << QStringLiteral("passthrough")
         << QStringLiteral("-f") << QStringLiteral("rawvideo") << QStringLiteral("-pix_fmt")
         << QStringLiteral("bgr24") << QStringLiteral("-");
    const auto result = qdx::test::run(QStringLiteral("ffmpeg"), args);
    std::vector<QByteArray> frames;
    const qsizetype size = qsizetype(width) * height * 3;
    if (result.exitCode != 0 || size <= 0)
        return frames;
    for (qsizetype at = 0; at + size <= result.out.size(); at += size)
        frames.push_back(result.out.mid(at, size));
    return frames;
}

size_t packedDibSize(const void* dib) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    size_t size = h.biSize;
    if (h.biCompression == BI_BITFIELDS && h.biSize == 40)
        size += 12;
    size += size_t(qdx::dibColourCount(h)) * 4;
    const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    return size + size_t(qdx::dibStride(h.biWidth, h.biBitCount) * height);
}

QByteArray imageToBgr24(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_BGR888);
    QByteArray out;
    out.reserve(qsizetype(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y)
        out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), qsizetype(rgb.width()) * 3);
    return out;
}

QByteArray dibToBgr24(const void* dib) {
    if (!dib)
        return {};
    const auto* bytes = static_cast<const uint8_t*>(dib);
    QString error;
    const TBitmap bitmap = qdx::decodePackedDib(std::span(bytes, packedDibSize(dib)), &error);
    if (bitmap.Empty())
        return {};
    return imageToBgr24(bitmap.Image());
}

double psnr(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size() || a.isEmpty())
        return 0;
    double sum = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
        sum += d * d;
    }
    if (sum == 0)
        return 1000;
    const double mse = sum / double(a.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace qdx::vfw::test

namespace qdx::vfw {

void PrintTo(const Compressor& compressor, std::ostream* out) {
    char fourcc[5] = {};
    for (int i = 0; i < 4; ++i)
        fourcc[i] = char((compressor.fourcc >> (8 * i)) & 0xFF);
    *out << compressor.name.toStdString() << " (" << (compressor.fourcc ? fourcc : "DIB ") << ")";
}

} // namespace qdx::vfw
