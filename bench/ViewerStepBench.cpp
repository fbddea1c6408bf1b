// Stepping through a film in the split window's frame viewer, along the viewer's own path: the
// slider event fetches the frame from the engine, copies it into the picture control and the
// picture is painted (offscreen). viewer_bench FILM sequential|random|memory
//  sequential: every frame in order; prints the frame count, the time and the frame rate.
//  random:     200 jumps to random frames (fixed seed); prints the mean and worst time of a jump.
//  fetch:      every frame in order through the engine's GetFrame alone (no copy, no paint), to
//              tell the engine's share from the window's.
//  memory:     every frame in order, printing the resident memory at the start, at each tenth
//              and at the end (kB), so that growth over a long film shows.

#include "editor/TFormSplit.h"
#include "editor/TImagemQuadro.h"
#include "editor/TjanTracker.h"
#include "avi/TAviCapture.h"
#include "platform/core/Prompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// What a slider event does for frame `frame` (from 1), and the paint that shows it.
void show(TFormSplit& window, int frame) {
    window.TrackerVideo->SetValue(frame);
    window.TrackerVideoChangedValue(frame);
    window.Imagem->repaint();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: viewer_bench FILM sequential|random|fetch|memory\n");
        return 2;
    }
    qdx::ConsolePrompts prompts;
    qdx::setPrompts(&prompts);
    TFormSplit window(nullptr);
    window.resize(1400, 900);
    window.show();
    QCoreApplication::processEvents();
    if (!window.AbrirVideo(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "viewer_bench: cannot load %s\n", argv[1]);
        return 1;
    }
    // Real size: the paint copies the frame without scaling, as a user at 100 % sees it.
    window.SpeedButtonTamanhoNormalClick();
    const int frames = window.TrackerVideo->Maximum();
    QElapsedTimer timer;
    if (std::strcmp(argv[2], "fetch") == 0) {
        timer.start();
        for (int frame = 1; frame <= frames; ++frame)
            if (!window.AviCapture->GetFrame(frame - 1)) {
                std::fprintf(stderr, "viewer_bench: frame %d missing\n", frame);
                return 1;
            }
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("frames %d seconds %.3f fps %.1f\n", frames, seconds, frames / seconds);
        return 0;
    }
    if (std::strcmp(argv[2], "sequential") == 0 || std::strcmp(argv[2], "memory") == 0) {
        const bool memory = argv[2][0] == 'm';
        if (memory)
            std::printf("frame 1 rss_kb %ld\n", residentKb());
        timer.start();
        for (int frame = 1; frame <= frames; ++frame) {
            show(window, frame);
            if (window.Imagem->Picture().Empty()) {
                std::fprintf(stderr, "viewer_bench: frame %d missing\n", frame);
                return 1;
            }
            if (memory && frame % std::max(1, frames / 10) == 0)
                std::printf("frame %d rss_kb %ld\n", frame, residentKb());
        }
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("frames %d seconds %.3f fps %.1f\n", frames, seconds, frames / seconds);
        return 0;
    }
    QRandomGenerator random(42);
    double worst = 0;
    double total = 0;
    const int jumps = 200;
    for (int i = 0; i < jumps; ++i) {
        const int frame = 1 + int(random.bounded(frames));
        timer.start();
        show(window, frame);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        total += ms;
        worst = std::max(worst, ms);
    }
    std::printf("jumps %d mean_ms %.2f worst_ms %.2f\n", jumps, total / jumps, worst);
    return 0;
}
