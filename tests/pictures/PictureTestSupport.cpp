#include "tests/pictures/PictureTestSupport.h"

#include <QFile>
#include <QPainter>

#include <cstdlib>

namespace qdx::test {

QImage testPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb(x * 255 / std::max(1, width - 1), y * 255 / std::max(1, height - 1),
                                (x + y) * 255 / (width + height)));
    QPainter painter(&image);
    painter.fillRect(QRect(width / 8, height / 8, width / 4, height / 4), qRgb(255, 255, 255));
    painter.fillRect(QRect(width / 2, height / 2, width / 4, height / 4), qRgb(0, 0, 0));
    painter.fillRect(QRect(width / 2, height / 8, width / 4, height / 4), qRgb(47, 48, 255));
    painter.end();
    image.setPixel(0, 0, qRgb(255, 255, 254));
    image.setPixel(1, 0, qRgb(255, 255, 255));
    return image;
}

QString pillowPython() {
    static const QString found = [] {
        for (const QString& candidate :
             {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
            const ProcessResult r =
                run(candidate, {QStringLiteral("-c"), QStringLiteral("import PIL")});
            if (r.exitCode == 0)
                return candidate;
        }
        return QString();
    }();
    return found;
}

ProcessResult pillow(const QString& script, const QStringList& arguments) {
    return run(pillowPython(), QStringList{QStringLiteral("-c"), script} + arguments);
}

QImage pillowPixels(const QString& path) {
    const ProcessResult r = pillow(QStringLiteral(R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.seek(0)
if im.mode in ('RGBA', 'LA', 'PA') or (im.mode == 'P' and 'transparency' in im.info):
    im = im.convert('RGBA')
    bg = Image.new('RGBA', im.size, (255, 255, 255, 255))
    im = Image.alpha_composite(bg, im)
im = im.convert('RGB')
sys.stdout.write('%d %d\n' % im.size)
sys.stdout.flush()
sys.stdout.buffer.write(im.tobytes())
)"),
                                   {path});
    if (r.exitCode != 0)
        return {};
    const qsizetype newline = r.out.indexOf('\n');
    const QList<QByteArray> size = r.out.left(newline).split(' ');
    const int w = size.value(0).toInt();
    const int h = size.value(1).toInt();
    const QByteArray rgb = r.out.mid(newline + 1);
    if (rgb.size() != qsizetype(w) * h * 3)
        return {};
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), rgb.constData() + qsizetype(y) * w * 3, size_t(w) * 3);
    return image.convertToFormat(QImage::Format_RGB32);
}

int maxChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 255;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

double meanChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace qdx::test
