// Frame fetching of the AVI layer: getframe_bench FILM THREADS sequential|random
//  sequential: AVIStreamGetFrame for every frame in order, as the frame viewer steps through a
//              film; prints the frame count, the time and the frame rate.
//  pictures:   the same without the conversion of the decoded pictures to DIBs.
//  convert:    the conversion alone, of the first picture, as many times as the film has frames.
//  random:     200 jumps to random frames (fixed seed); prints for the worst jump how many samples
//              were decoded and the film's longest group of pictures, and the mean and worst time
//              of a jump.
// THREADS is the decoder's thread count (0: FFmpeg chooses), to compare with ffmpeg -threads N.

#include "platform/codec/CodecThreads.h"
#include "platform/codec/VideoDecoder.h"
#include "platform/vfw/FrameGetterImpl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>
#include <cstring>

using namespace qdx::vfw;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: getframe_bench FILM THREADS sequential|pictures|convert|random\n");
        return 2;
    }
    setDecoderThreads(std::atoi(argv[2]));
    LibraryScope library;
    PAVIFILE opened = nullptr;
    if (AVIFileOpen(&opened, QString::fromLocal8Bit(argv[1]), OF_READ) != AVIERR_OK) {
        std::fprintf(stderr, "getframe_bench: cannot open %s\n", argv[1]);
        return 1;
    }
    FileHandle file(opened);
    PAVISTREAM video = nullptr;
    if (AVIFileGetStream(file.get(), &video, streamtypeVIDEO, 0) != AVIERR_OK) {
        std::fprintf(stderr, "getframe_bench: no video stream\n");
        return 1;
    }
    StreamHandle stream(video);
    const LONG length = AVIStreamLength(video);
    QElapsedTimer timer;
    timer.start();
    GetterHandle getter(AVIStreamGetFrameOpen(video, nullptr));
    if (!getter) {
        std::fprintf(stderr, "getframe_bench: no frame getter\n");
        return 1;
    }
    auto* impl = dynamic_cast<FrameGetterImpl*>(getter.get());
    if (std::strcmp(argv[3], "sequential") == 0) {
        for (LONG i = 0; i < length; ++i)
            if (!AVIStreamGetFrame(getter.get(), i)) {
                std::fprintf(stderr, "getframe_bench: frame %d missing\n", int(i));
                return 1;
            }
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("frames %d seconds %.3f fps %.1f decoded %lld\n", int(length), seconds,
                    length / seconds, static_cast<long long>(impl->counters().samplesDecoded));
        return 0;
    }
    if (std::strcmp(argv[3], "pictures") == 0) {
        // The decoding alone: every frame's decoded picture, without its conversion to a DIB.
        for (LONG i = 0; i < length; ++i)
            if (!impl || !impl->picture(i)) {
                std::fprintf(stderr, "getframe_bench: picture %d missing\n", int(i));
                return 1;
            }
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("pictures %d seconds %.3f fps %.1f\n", int(length), seconds, length / seconds);
        return 0;
    }
    if (std::strcmp(argv[3], "convert") == 0) {
        // The conversion alone: the first picture converted to a 24-bit DIB as many times as the
        // film has frames.
        const AVFrame* first = impl ? impl->picture(0) : nullptr;
        if (!first) {
            std::fprintf(stderr, "getframe_bench: no picture\n");
            return 1;
        }
        FramePtr picture = makeFrame();
        av_frame_ref(picture.get(), first);
        FrameConverter converter(impl->outputHeader());
        DibBytes dib;
        timer.restart();
        for (LONG i = 0; i < length; ++i)
            converter.convert(picture.get(), dib);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("conversions %d seconds %.3f per_frame_ms %.3f\n", int(length), seconds,
                    seconds * 1000 / length);
        return 0;
    }
    // The longest distance between key frames.
    LONG longestGroup = 0;
    for (LONG key = 0; key >= 0 && key < length;) {
        const LONG next = AVIStreamFindSample(video, key + 1, FIND_NEXT | FIND_KEY);
        const LONG end = next < 0 ? length : next;
        longestGroup = std::max(longestGroup, end - key);
        key = next;
    }
    QRandomGenerator random(42);
    int64_t worstSamples = 0;
    int64_t worstNs = 0;
    int64_t totalNs = 0;
    constexpr int kJumps = 200;
    for (int j = 0; j < kJumps; ++j) {
        const LONG position = LONG(random.bounded(length));
        const int64_t before = impl->counters().samplesDecoded;
        timer.restart();
        if (!AVIStreamGetFrame(getter.get(), position)) {
            std::fprintf(stderr, "getframe_bench: frame %d missing\n", int(position));
            return 1;
        }
        const int64_t ns = timer.nsecsElapsed();
        totalNs += ns;
        worstNs = std::max(worstNs, ns);
        worstSamples = std::max(worstSamples, impl->counters().samplesDecoded - before);
    }
    std::printf("jumps %d worst_samples %lld longest_group %d mean_ms %.2f worst_ms %.2f\n", kJumps,
                static_cast<long long>(worstSamples), int(longestGroup),
                double(totalNs) / kJumps / 1e6, double(worstNs) / 1e6);
    return 0;
}
