#include "platform/core/ReplaceableFile.h"

#include <QFile>

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

} // namespace qdx
