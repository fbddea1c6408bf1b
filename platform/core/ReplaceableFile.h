#pragma once

#include <QString>

namespace qdx {

// Whether a file may be replaced by a new one written beside it and renamed over it: true when
// nothing exists at `path`, or when it is a regular file with a write permission bit that this
// process may write. A file without any write permission bit is read-only for everyone, root
// included, whose rights would otherwise let the rename replace it.
bool mayReplaceFile(const QString& path);

// The file that writing `path` replaces: `path` itself, or, when it is a symbolic link, the file
// the link names (for a dangling link, the file to create there), so that the link stays a link
// and the file it points to is the one written.
QString replacedFilePath(const QString& path);

// Gives the open file `fresh`, about to be renamed over `target`, the permission bits of the file
// there, and its owner and group where this process may give them. Nothing when `target` does
// not exist.
void keepPermissionsOf(const QString& target, int fresh);

} // namespace qdx
