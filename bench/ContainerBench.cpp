// The RIFF AVI files of the AVI layer: container_bench make DIR | open FILM | write FILM FRAMES
//  make:  writes two-hour and twenty-minute films (25 frames per second, a small frame and a
//         sound chunk per frame, as recorded films are interleaved) in DIR: NAME.avi with idx1,
//         NAME-odml.avi in 1 MiB OpenDML extents, NAME-scan.avi without any index.
//  open:  opens the film and walks its index: length, size and key frame of every sample; prints
//         the chunk count, the milliseconds and the chunks per second (a constant rate across
//         lengths shows the work is linear).
//  write: writes FRAMES uncompressed 1280x720 24-bit frames; prints milliseconds and MB/s.

#include "platform/avifile/RiffAviWriter.h"
#include "platform/vfw/Vfw.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace qdx::vfw;

namespace {

bool makeFilm(const QString& path, int frames, int64_t threshold) {
    setOpenDmlThreshold(threshold);
    PAVIFILE raw = nullptr;
    if (AVIFileOpen(&raw, path, OF_CREATE | OF_WRITE) != AVIERR_OK)
        return false;
    FileHandle file(raw);
    AVISTREAMINFO vi;
    vi.fccType = streamtypeVIDEO;
    vi.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
    vi.dwScale = 1;
    vi.dwRate = 25;
    AVISTREAMINFO ai;
    ai.fccType = streamtypeAUDIO;
    ai.dwScale = 1;
    ai.dwRate = 1000;
    ai.dwSampleSize = 1;
    PAVISTREAM v = nullptr, a = nullptr;
    if (AVIFileCreateStream(raw, &v, &vi) != AVIERR_OK ||
        AVIFileCreateStream(raw, &a, &ai) != AVIERR_OK)
        return false;
    StreamHandle video(v), audio(a);
    BITMAPINFOHEADER bih;
    bih.biWidth = 320;
    bih.biHeight = 240;
    bih.biBitCount = 24;
    bih.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    WAVEFORMATEX wf;
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 1;
    wf.nSamplesPerSec = 1000;
    wf.nAvgBytesPerSec = 1000;
    wf.nBlockAlign = 1;
    wf.wBitsPerSample = 8;
    if (AVIStreamSetFormat(v, 0, &bih, sizeof bih) != AVIERR_OK ||
        AVIStreamSetFormat(a, 0, &wf, sizeof wf) != AVIERR_OK)
        return false;
    std::vector<uint8_t> picture(64, 0x55);
    std::vector<uint8_t> sound(40, 0x80);
    for (int i = 0; i < frames; ++i) {
        if (AVIStreamWrite(v, i, 1, picture.data(), LONG(picture.size()),
                           i % 25 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr) != AVIERR_OK ||
            AVIStreamWrite(a, i * 40, 40, sound.data(), LONG(sound.size()), AVIIF_KEYFRAME, nullptr,
                           nullptr) != AVIERR_OK)
            return false;
    }
    return flushFile(raw) == AVIERR_OK;
}

int make(const QString& dir) {
    for (const auto& [name, frames] : {std::pair{"twohours", 180000}, std::pair{"twenty", 30000}}) {
        const QString base = dir + QLatin1Char('/') + QLatin1String(name);
        if (!makeFilm(base + QStringLiteral(".avi"), frames, 0) ||
            !makeFilm(base + QStringLiteral("-odml.avi"), frames, 1 << 20)) {
            std::fprintf(stderr, "container_bench: cannot write %s\n", qPrintable(base));
            return 1;
        }
        QFile in(base + QStringLiteral(".avi"));
        if (!in.open(QIODevice::ReadOnly))
            return 1;
        QByteArray data = in.readAll();
        data.replace(data.lastIndexOf("idx1"), 4, "JUNK");
        QFile out(base + QStringLiteral("-scan.avi"));
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
            return 1;
    }
    return 0;
}

int open(const QString& path) {
    QElapsedTimer timer;
    timer.start();
    PAVIFILE raw = nullptr;
    if (AVIFileOpen(&raw, path, OF_READ) != AVIERR_OK) {
        std::fprintf(stderr, "container_bench: cannot open %s\n", qPrintable(path));
        return 1;
    }
    FileHandle file(raw);
    int64_t chunks = 0;
    int64_t bytes = 0;
    for (LONG s = 0;; ++s) {
        PAVISTREAM st = nullptr;
        if (AVIFileGetStream(raw, &st, 0, s) != AVIERR_OK)
            break;
        StreamHandle stream(st);
        AVISTREAMINFO info;
        AVIStreamInfo(st, &info, sizeof info);
        const LONG length = AVIStreamLength(st);
        const LONG step = info.dwSampleSize > 0 ? 40 : 1;
        for (LONG i = 0; i < length; i += step) {
            LONG size = 0;
            AVIStreamRead(st, i, step, nullptr, 0, &size, nullptr);
            bytes += size;
            if (AVIStreamFindSample(st, i, FIND_PREV | FIND_KEY) < 0)
                return 1;
            ++chunks;
        }
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    std::printf("chunks %lld bytes %lld ms %.1f chunks_per_s %.0f\n",
                static_cast<long long>(chunks), static_cast<long long>(bytes), ms,
                double(chunks) / (ms / 1000));
    return 0;
}

int write(const QString& path, int frames) {
    QElapsedTimer timer;
    timer.start();
    PAVIFILE raw = nullptr;
    if (AVIFileOpen(&raw, path, OF_CREATE | OF_WRITE) != AVIERR_OK)
        return 1;
    {
        FileHandle file(raw);
        AVISTREAMINFO vi;
        vi.fccType = streamtypeVIDEO;
        vi.dwScale = 1;
        vi.dwRate = 25;
        PAVISTREAM v = nullptr;
        if (AVIFileCreateStream(raw, &v, &vi) != AVIERR_OK)
            return 1;
        StreamHandle video(v);
        BITMAPINFOHEADER bih;
        bih.biWidth = 1280;
        bih.biHeight = 720;
        bih.biBitCount = 24;
        bih.biSizeImage = 1280 * 720 * 3;
        if (AVIStreamSetFormat(v, 0, &bih, sizeof bih) != AVIERR_OK)
            return 1;
        std::vector<uint8_t> pixels(bih.biSizeImage, 0);
        for (int i = 0; i < frames; ++i) {
            pixels[size_t(i) % pixels.size()] = uint8_t(i);
            if (AVIStreamWrite(v, i, 1, pixels.data(), LONG(pixels.size()), AVIIF_KEYFRAME, nullptr,
                               nullptr) != AVIERR_OK)
                return 1;
        }
        if (flushFile(raw) != AVIERR_OK)
            return 1;
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    std::printf("frames %d ms %.1f MB_per_s %.1f\n", frames, ms,
                double(frames) * 1280 * 720 * 3 / 1e6 / (ms / 1000));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    LibraryScope library;
    if (argc == 3 && std::strcmp(argv[1], "make") == 0)
        return make(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "open") == 0)
        return open(QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && std::strcmp(argv[1], "write") == 0)
        return write(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    std::fprintf(stderr, "usage: container_bench make DIR | open FILM | write FILM FRAMES\n");
    return 2;
}
