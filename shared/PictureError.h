#pragma once

#include <QString>

#include <cstdint>
#include <stdexcept>

namespace qdx {

// A picture file that cannot be read or written: a malformed or unsupported file, a refused
// extension, a folder or disk that refuses the write. The text names the file and the reason and
// is meant to be shown to the user as it stands.
class PictureError : public std::runtime_error {
public:
    explicit PictureError(const QString& text)
        : std::runtime_error(text.toStdString()), m_text(text) {}
    const QString& text() const { return m_text; }

private:
    QString m_text;
};

// The largest picture any reader builds: 2^26 pixels (8192 x 8192, or a 67-megapixel photo).
// A hostile header cannot make a reader allocate more than a few hundred megabytes.
constexpr int64_t kMaxPicturePixels = int64_t(1) << 26;
// Files larger than this are not read into memory at all.
constexpr int64_t kMaxPictureFileBytes = int64_t(1) << 30;

} // namespace qdx
