#include "tests/support/FilmMaker.h"

#include "platform/codec/Compressors.h"
#include "platform/codec/VideoEncoder.h"
#include "platform/core/Dib.h"

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>

namespace qdx::vfw {

void PrintTo(const Compressor& compressor, std::ostream* out) {
    char code[5] = {};
    for (int i = 0; i < 4; ++i)
        code[i] = char((compressor.fourcc >> (8 * i)) & 0xFF);
    *out << compressor.name.toStdString() << " (" << (compressor.fourcc ? code : "DIB ") << ")";
}

} // namespace qdx::vfw

namespace qdx::test {

using namespace qdx::vfw;

namespace {

struct RawLayout {
    int bits = 0;
    bool rgb565 = false;
};

// The DIB depth of an uncompressed film's pixel format; 0 for one the writer does not make.
RawLayout rawLayoutOf(const QString& pixels) {
    if (pixels == QLatin1String("bgr24"))
        return {24, false};
    if (pixels == QLatin1String("bgr0") || pixels == QLatin1String("bgra"))
        return {32, false};
    if (pixels == QLatin1String("rgb555le") || pixels == QLatin1String("rgb555"))
        return {16, false};
    if (pixels == QLatin1String("rgb565le") || pixels == QLatin1String("rgb565"))
        return {16, true};
    if (pixels == QLatin1String("pal8"))
        return {8, false};
    return {};
}

// Frame k's sound ends where frame k + 1 begins: the sound is exactly as long as the picture.
int64_t soundEnd(const FilmRecipe& r, int64_t frames) {
    return frames * r.scale * r.soundRate / r.rate;
}

class FilmWriter {
public:
    QString write(const QString& path, const FilmRecipe& r) {
        if (r.width <= 0 || r.height <= 0 || r.frames < 0 || r.rate <= 0 || r.scale <= 0)
            return QStringLiteral("a film of %1x%2, %3 frames cannot be made")
                .arg(r.width)
                .arg(r.height)
                .arg(r.frames);
        const bool raw = r.codec == QLatin1String("rawvideo");
        QByteArray format;
        qdx::DibLayout layout;
        std::unique_ptr<VideoEncoder> encoder;
        if (raw) {
            const RawLayout l = rawLayoutOf(r.pixelFormat);
            if (!l.bits)
                return QStringLiteral("no uncompressed layout %1").arg(r.pixelFormat);
            layout = qdx::dibLayoutOf(filmPicture(r.width, r.height, 0), l.bits, l.rgb565);
            format = formatOf(layout);
        } else {
            EncoderSettings settings;
            settings.encoder = r.codec.toLatin1();
            settings.width = r.width;
            settings.height = r.height;
            settings.pixelFormat = r.pixelFormat.toLatin1();
            settings.scale = DWORD(r.scale);
            settings.rate = DWORD(r.rate);
            settings.keyFrameEvery = r.keyFrameEvery;
            settings.bFrames = r.bFrames;
            settings.quantiser = r.quantiser;
            if (r.fourcc.size() == 4)
                settings.fourcc = fourcc(r.fourcc.toLatin1().constData());
            for (const QString& option : r.options) {
                const qsizetype eq = option.indexOf(QLatin1Char('='));
                if (eq <= 0)
                    return QStringLiteral("the option %1 has no value").arg(option);
                settings.options.emplace_back(option.left(eq).toLatin1(),
                                              option.mid(eq + 1).toLatin1());
            }
            QString why;
            encoder = VideoEncoder::open(settings, &why);
            if (!encoder)
                return why;
            format = encoder->format();
        }

        LibraryScope library;
        PAVIFILE created = nullptr;
        QFile::remove(path);
        if (const HRESULT hr = AVIFileOpen(&created, path, OF_CREATE | OF_WRITE); hr != AVIERR_OK)
            return QStringLiteral("%1 cannot be created: %2").arg(path, aviErrorName(hr));
        FileHandle file(created);
        AVISTREAMINFO info = videoHeader(r.width, r.height, DWORD(r.rate), DWORD(r.scale));
        BITMAPINFOHEADER header;
        std::memcpy(&header, format.constData(), sizeof header);
        info.fccHandler = raw ? 0 : header.biCompression;
        PAVISTREAM stream = nullptr;
        if (AVIFileCreateStream(file.get(), &stream, &info) != AVIERR_OK)
            return QStringLiteral("the video stream cannot be created");
        StreamHandle video(stream);
        if (AVIStreamSetFormat(video.get(), 0, format.constData(), LONG(format.size())) !=
            AVIERR_OK)
            return QStringLiteral("the video format is refused");
        StreamHandle audio;
        if (r.sound) {
            const AVISTREAMINFO soundInfo = pcmHeader(r.soundRate, 1);
            if (AVIFileCreateStream(file.get(), &stream, &soundInfo) != AVIERR_OK)
                return QStringLiteral("the sound stream cannot be created");
            audio.reset(stream);
            const WAVEFORMATEX wave = pcmFormat(r.soundRate, 1);
            if (AVIStreamSetFormat(audio.get(), 0, &wave, sizeof wave) != AVIERR_OK)
                return QStringLiteral("the sound format is refused");
        }

        std::vector<uint8_t> bits(raw ? layout.header.biSizeImage : 0);
        LONG next = 0; // the position of the next sample, with B-frames in coding order
        auto put = [&](LONG position, const void* data, LONG size, bool key) {
            return AVIStreamWrite(video.get(), position, 1, data, size, key ? AVIIF_KEYFRAME : 0,
                                  nullptr, nullptr) == AVIERR_OK;
        };
        auto drain = [&]() {
            VideoEncoder::Sample sample;
            while (encoder->take(sample)) {
                // Without reordering each sample keeps its picture's place (a dropped frame's
                // stays empty); with it, samples follow one another in coding order.
                const LONG at = r.bFrames > 0 ? next : sample.position;
                if (!put(at, sample.data.constData(), LONG(sample.data.size()), sample.key))
                    return false;
                next = at + 1;
            }
            return true;
        };
        int64_t soundWritten = 0;
        for (int k = 0; k < r.frames; ++k) {
            const bool dropped =
                std::find(r.dropped.begin(), r.dropped.end(), k) != r.dropped.end();
            const QImage picture = filmPicture(r.width, r.height, k);
            if (raw) {
                qdx::writeDibBits(picture, layout, bits.data());
                if (!dropped && !put(k, bits.data(), LONG(bits.size()), true))
                    return QStringLiteral("frame %1 cannot be written").arg(k);
            } else if (!dropped) {
                if (!encoder->encodeImage(picture, k) || !drain())
                    return QStringLiteral("frame %1 cannot be encoded").arg(k);
            }
            if (audio) {
                const int64_t end = soundEnd(r, k + 1);
                const QByteArray samples = filmSound(r.soundRate, soundWritten, end - soundWritten);
                if (!samples.isEmpty() &&
                    AVIStreamWrite(audio.get(), LONG(soundWritten), LONG(end - soundWritten),
                                   samples.constData(), LONG(samples.size()), 0, nullptr,
                                   nullptr) != AVIERR_OK)
                    return QStringLiteral("the sound of frame %1 cannot be written").arg(k);
                soundWritten = end;
            }
        }
        if (encoder && (!encoder->finish() || !drain()))
            return QStringLiteral("the encoder's last frames cannot be written");
        // Frames dropped at the end still count: an empty sample holds each place. (An encoder
        // that keeps its last pictures to itself, as libxvid does, gives a shorter film.)
        const char none = 0;
        for (LONG k = AVIStreamLength(video.get()); !r.dropped.empty() && k < r.frames; ++k)
            if (!put(k, &none, 0, false))
                return QStringLiteral("frame %1 cannot be written").arg(k);
        audio.reset();
        video.reset();
        if (const HRESULT hr = finishFile(file.get()); hr != AVIERR_OK)
            return QStringLiteral("%1 cannot be finished: %2").arg(path, aviErrorName(hr));
        return {};
    }

private:
    static QByteArray formatOf(const qdx::DibLayout& layout) {
        QByteArray format(reinterpret_cast<const char*>(&layout.header), sizeof layout.header);
        if (layout.header.biCompression == BI_BITFIELDS)
            format.append(reinterpret_cast<const char*>(layout.masks), sizeof layout.masks);
        format.append(reinterpret_cast<const char*>(layout.colours.data()),
                      qsizetype(layout.colours.size() * sizeof(RGBQUAD)));
        return format;
    }
};

} // namespace

QString writeFilm(const QString& path, const FilmRecipe& recipe) {
    return FilmWriter().write(path, recipe);
}

QString makeFilm(const TempDir& dir, const QString& name, const FilmRecipe& recipe) {
    const QString path = dir.file(name);
    const QString why = writeFilm(path, recipe);
    EXPECT_EQ(why, QString()) << name.toStdString();
    return path;
}

QImage filmPicture(int width, int height, int index) {
    // Bars of fully saturated colours, a dark panel whose marks count the frames, a square of
    // noise that moves and changes every frame, and a grey square that moves the other way.
    static const QRgb bars[] = {qRgb(255, 0, 0),    qRgb(0, 255, 0),   qRgb(255, 255, 0),
                                qRgb(0, 0, 255),    qRgb(255, 0, 255), qRgb(0, 255, 255),
                                qRgb(255, 255, 255)};
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = bars[std::min(6, x * 7 / width)];
    }
    auto fill = [&](int left, int top, int w, int h, const auto& colourAt) {
        for (int y = std::max(0, top); y < std::min(height, top + h); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = std::max(0, left); x < std::min(width, left + w); ++x)
                row[x] = colourAt(x - left, y - top);
        }
    };
    const int panelWidth = width / 2;
    const int panelHeight = std::max(2, height / 6);
    fill(0, 0, panelWidth, panelHeight, [&](int x, int y) {
        // Eight marks, the frame number's bits, each a block in the panel's middle rows.
        const int bit = x * 8 / std::max(1, panelWidth);
        const bool mark = y > panelHeight / 4 && y < panelHeight * 3 / 4 &&
                          (x * 8) % std::max(1, panelWidth) > panelWidth / 4 &&
                          ((index >> (7 - bit)) & 1);
        return mark ? qRgb(255, 128, 0) : qRgb(16, 16, 16);
    });
    const int side = std::max(4, height / 2);
    const int span = std::max(1, width - side);
    fill((index * 3) % span, height / 2 - side / 2, side, side, [&](int x, int y) {
        const uint32_t hash = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^
                              (uint32_t(index + 1) * 83492791u);
        const int v = 104 + int((hash >> 8) % 49);
        return qRgb(v, v, v);
    });
    fill(span - (index * 2) % span, height * 3 / 4, side, side / 2,
         [](int, int) { return qRgb(128, 128, 128); });
    return image;
}

QByteArray filmSound(int rate, int64_t first, int64_t count) {
    QByteArray out(qsizetype(std::max<int64_t>(count, 0) * 2), '\0');
    for (int64_t i = 0; i < count; ++i) {
        // A 440 Hz tone whose loudness swells slowly, so that no stretch of it repeats: a run of
        // samples is found at one place only.
        const double t = double(first + i) / rate;
        const double loudness = 3000.0 + 1000.0 * std::sin(2.0 * M_PI * 0.37 * t);
        const auto v = int16_t(std::lround(loudness * std::sin(2.0 * M_PI * 440.0 * t)));
        out[qsizetype(2 * i)] = char(v & 0xFF);
        out[qsizetype(2 * i + 1)] = char((v >> 8) & 0xFF);
    }
    return out;
}

OpenedFile::OpenedFile(const QString& path, UINT mode) {
    AVIFileInit();
    result = AVIFileOpen(&file, path, mode);
}

OpenedFile::~OpenedFile() {
    if (file)
        AVIFileRelease(file);
    AVIFileExit();
}

std::vector<QByteArray> readAllSamples(PAVISTREAM stream, LONG perRead) {
    std::vector<QByteArray> samples;
    const LONG start = AVIStreamStart(stream);
    const LONG end = start + AVIStreamLength(stream);
    for (LONG at = start; at < end;) {
        LONG bytes = 0;
        LONG count = 0;
        if (AVIStreamRead(stream, at, perRead, nullptr, 0, &bytes, &count) != AVIERR_OK) {
            ADD_FAILURE() << "size of sample " << at;
            break;
        }
        if (bytes == 0) {
            // An empty sample (a dropped frame): nothing to read.
            samples.emplace_back();
            at += std::max<LONG>(count, 1);
            continue;
        }
        QByteArray data(bytes, '\0');
        LONG got = 0;
        const HRESULT hr = AVIStreamRead(stream, at, perRead, data.data(), bytes, &bytes, &got);
        if (hr != AVIERR_OK || got <= 0) {
            ADD_FAILURE() << "reading sample " << at << ": " << aviErrorName(hr).toStdString();
            break;
        }
        data.resize(bytes);
        samples.push_back(data);
        at += got;
    }
    return samples;
}

std::vector<uint8_t> framePixels(int width, int height, int bits, int index) {
    const int stride = ((width * bits + 31) / 32) * 4;
    std::vector<uint8_t> pixels(size_t(stride) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < stride; ++x)
            pixels[size_t(y) * stride + x] = uint8_t(x * 7 + y * 13 + index * 29);
    return pixels;
}

BITMAPINFOHEADER frameFormat(int width, int height, int bits) {
    BITMAPINFOHEADER h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = uint16_t(bits);
    h.biSizeImage = uint32_t(((width * bits + 31) / 32) * 4 * height);
    return h;
}

AVISTREAMINFO videoHeader(int width, int height, DWORD rate, DWORD scale) {
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.dwRate = rate;
    info.dwScale = scale;
    info.rcFrame = {0, 0, width, height};
    std::strcpy(info.szName, "Video");
    return info;
}

AVISTREAMINFO pcmHeader(int rate, int channels) {
    AVISTREAMINFO info;
    info.fccType = streamtypeAUDIO;
    info.dwScale = DWORD(2 * channels);
    info.dwRate = DWORD(rate * 2 * channels);
    info.dwSampleSize = DWORD(2 * channels);
    return info;
}

WAVEFORMATEX pcmFormat(int rate, int channels, int bits) {
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = WORD(channels);
    f.nSamplesPerSec = DWORD(rate);
    f.nBlockAlign = WORD(channels * bits / 8);
    f.nAvgBytesPerSec = DWORD(rate) * f.nBlockAlign;
    f.wBitsPerSample = WORD(bits);
    return f;
}

std::vector<uint8_t> pcmSamples(int64_t first, int64_t count, int channels) {
    std::vector<uint8_t> out(size_t(count * channels * 2));
    for (int64_t i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c) {
            const auto v =
                int16_t(std::lround(8000 * std::sin(double(first + i) * (0.05 + c * 0.01))));
            out[size_t((i * channels + c) * 2)] = uint8_t(v & 0xFF);
            out[size_t((i * channels + c) * 2 + 1)] = uint8_t((v >> 8) & 0xFF);
        }
    return out;
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

QByteArray imageToBgr24(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_BGR888);
    QByteArray out;
    out.reserve(qsizetype(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y)
        out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), qsizetype(rgb.width()) * 3);
    return out;
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

QString md5(const QByteArray& data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

uint32_t fourcc(const char* s) {
    return mmioFOURCC(s[0], s[1], s[2], s[3]);
}

} // namespace qdx::test
