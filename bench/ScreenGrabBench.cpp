// Times screen copies of the X display named by DISPLAY: grab, pointer and conversion to 24 and
// 32 bits, each the median of several frames, through shared memory and, for comparison, through
// the socket. The picture of each frame is released before the next, as the recorder does.
// Usage: screengrab_bench [FRAMES]

#include "platform/x11/ScreenGrabber.h"
#include "platform/x11/X11Error.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using qdx::x11::ScreenGrabber;

double medianMilliseconds(int frames, ScreenGrabber& grabber, TPixelFormat format) {
    std::vector<double> times;
    grabber.grab(format); // the first grab fetches the pointer image and sizes the buffers
    for (int i = 0; i < frames; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const TBitmap frame = grabber.grab(format);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 200;
    try {
        ScreenGrabber shared;
        ScreenGrabber socket(ScreenGrabber::Pointer::Drawn, ScreenGrabber::Transfer::Socket);
        ScreenGrabber bare(ScreenGrabber::Pointer::Left);
        std::printf("screen %dx%d, shared memory %s\n", shared.size().width(),
                    shared.size().height(), shared.sharedMemory() ? "yes" : "no");
        std::printf("grab_24bit_pointer %.3f\n", medianMilliseconds(frames, shared, pf24bit));
        std::printf("grab_32bit_pointer %.3f\n", medianMilliseconds(frames, shared, pf32bit));
        std::printf("grab_24bit_no_pointer %.3f\n", medianMilliseconds(frames, bare, pf24bit));
        std::printf("grab_16bit_pointer %.3f\n",
                    medianMilliseconds(frames / 4 + 1, shared, pf16bit));
        std::printf("grab_8bit_pointer %.3f\n", medianMilliseconds(frames / 4 + 1, shared, pf8bit));
        std::printf("grab_24bit_socket %.3f\n",
                    medianMilliseconds(frames / 4 + 1, socket, pf24bit));
    } catch (const qdx::x11::X11Error& error) {
        std::fprintf(stderr, "screengrab_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
