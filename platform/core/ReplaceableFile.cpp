#include "platform/core/ReplaceableFile.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace qdx {

bool mayReplaceFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return true;
    return S_ISREG(st.st_mode) && (st.st_mode & 0222) != 0 && ::access(name.constData(), W_OK) == 0;
}

QString replacedFilePath(const QString& path) {
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

void keepPermissionsOf(const QString& target, int fresh) {
    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) != 0)
        return;
    // The owner first: a change of owner clears the set-user-ID and set-group-ID bits. Only root
    // may give a file away; others keep their own ownership.
    [[maybe_unused]] const int given = ::fchown(fresh, old.st_uid, old.st_gid);
    (void)::fchmod(fresh, old.st_mode & 07777);
}

} // namespace qdx
