#pragma once

// Pictures drawn in code and the peers (Pillow, ImageMagick) that check the files written.

#include "platform/core/TBitmap.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <span>

namespace qdx::test {

// A picture with smooth gradients, flat colour areas, pure and nearly pure white and black.
QImage testPicture(int width, int height);

inline std::span<const uint8_t> bytesOf(const QByteArray& data) {
    return {reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())};
}

// The Python that has Pillow, or empty when there is none.
QString pillowPython();
// Runs a Python snippet with Pillow; `arguments` become sys.argv[1:].
ProcessResult pillow(const QString& script, const QStringList& arguments);
// Pillow's decoding of a picture file as RGB rows (composited on white when it has alpha).
QImage pillowPixels(const QString& path);

// The largest difference of one channel between two pictures of the same size (255 when the
// sizes differ), and the mean absolute channel difference.
int maxChannelDifference(const QImage& a, const QImage& b);
double meanChannelDifference(const QImage& a, const QImage& b);

} // namespace qdx::test
