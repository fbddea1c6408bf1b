// Build tool: renders an SVG icon into a PNG of a given size, for the icon theme's fixed-size
// folders (share/icons/hicolor/NxN/apps).
//
// usage: qdx_iconrender SOURCE.svg SIZE TARGET.png

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: qdx_iconrender SOURCE.svg SIZE TARGET.png\n");
        return 2;
    }
    const int size = QByteArray(argv[2]).toInt();
    if (size <= 0 || size > 4096) {
        std::fprintf(stderr, "qdx_iconrender: bad size %s\n", argv[2]);
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    reader.setScaledSize(QSize(size, size));
    const QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "qdx_iconrender: cannot read %s: %s\n", argv[1],
                     qPrintable(reader.errorString()));
        return 1;
    }
    if (!image.convertToFormat(QImage::Format_ARGB32)
             .save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "qdx_iconrender: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
