#pragma once

#include "platform/core/Exception.h"

#include <QString>

#include <cstdint>

namespace qdx {

// A picture file that cannot be read or written: a malformed or unsupported file, a refused
// extension, a folder or disk that refuses the write. The text names the file and the reason and
// is meant to be shown to the user as it stands.
class PictureError : public Exception {
public:
    explicit PictureError(const QString& text) : Exception(text) {}
    const QString& text() const { return Message(); }
};

// The largest picture any reader builds: 2^26 pixels (8192 x 8192, or a 67-megapixel photo).
// A hostile header cannot make a reader allocate more than a few hundred megabytes.
constexpr int64_t kMaxPicturePixels = int64_t(1) << 26;
// Files larger than this are not read into memory at all.
constexpr int64_t kMaxPictureFileBytes = int64_t(1) << 30;

} // namespace qdx
