// Times SalvarImagem on one picture: BMP, GIF and JPEG, each the median of several runs, next to
// the floor for BMP: building the BMP file in memory, copying the pixel bytes, and writing them to
// a file.
// Usage: picture_bench PICTURE OUTPUT_FOLDER [RUNS]

#include "shared/ArquivosImagem.h"
#include "shared/BmpFile.h"
#include "shared/PictureError.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

double medianMilliseconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: picture_bench PICTURE OUTPUT_FOLDER [RUNS]\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QDir output(QString::fromLocal8Bit(argv[2]));
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;
    try {
        TBitmap bitmap = CarregarImagem(input);
        bitmap.SetPixelFormat(pf24bit);
        std::printf("picture %dx%d, 24 bits, median of %d runs\n", bitmap.Width(), bitmap.Height(),
                    runs);
        for (const char* extension : {"bmp", "gif", "jpg"}) {
            const QString target =
                output.filePath(QStringLiteral("bench.") + QLatin1String(extension));
            const double ms = medianMilliseconds(runs, [&] { SalvarImagem(bitmap, target); });
            std::printf("SalvarImagem_%s %.3f ms\n", extension, ms);
        }
        qsizetype encoded = 0;
        const double encodeMs =
            medianMilliseconds(runs, [&] { encoded += qdx::BmpFile::encode(bitmap).size(); });
        std::printf("BmpFile_encode_in_memory %.3f ms\n", encodeMs);
        const QImage& image = bitmap.Image();
        const size_t bytes = size_t(image.sizeInBytes());
        std::vector<uchar> copy(bytes);
        volatile uchar sink = 0;
        const double copyMs = medianMilliseconds(runs, [&] {
            std::memcpy(copy.data(), image.constBits(), bytes);
            sink = sink + copy[bytes / 2]; // keeps the copy from being optimised away
        });
        std::printf("memcpy_pixels %.3f ms\n", copyMs);
        const QString raw = output.filePath(QStringLiteral("bench.raw"));
        const double writeMs = medianMilliseconds(runs, [&] {
            QFile file(raw);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(reinterpret_cast<const char*>(image.constBits()), qint64(bytes));
        });
        std::printf("write_pixels %.3f ms\n", writeMs);
    } catch (const qdx::PictureError& e) {
        std::fprintf(stderr, "picture_bench: %s\n", qPrintable(e.text()));
        return 1;
    }
    return 0;
}
