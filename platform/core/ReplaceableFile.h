#pragma once

#include <QString>

namespace qdx {

// Whether a file may be replaced by a new one written beside it and renamed over it: true when
// nothing exists at `path`, or when it is a regular file with a write permission bit that this
// process may write. A file without any write permission bit is read-only for everyone, root
// included, whose rights would otherwise let the rename replace it.
bool mayReplaceFile(const QString& path);

} // namespace qdx
