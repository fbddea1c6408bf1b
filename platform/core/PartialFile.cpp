#include "platform/core/PartialFile.h"

#include "platform/core/ReplaceableFile.h"
#include "platform/core/WorkFileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qdx {

namespace {

// The uncommitted partial files of this process, by native name.
std::mutex registryMutex;
std::vector<QByteArray>& registry() {
    static std::vector<QByteArray> names;
    return names;
}

// A write lock over the whole file, owned by the open file description `fd`.
bool lockWhole(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether another open file description (of any process) holds a record lock on the file.
bool heldElsewhere(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &lock) != 0)
        return true; // cannot tell: leave the file alone
    return lock.l_type != F_UNLCK;
}

} // namespace

PartialFile::PartialFile(const QString& target) {
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    removeStale(folder);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString name = folder + QStringLiteral("/.") + info.completeBaseName() +
                         QStringLiteral(".partial-") + QUuid::createUuid().toString(QUuid::Id128) +
                         suffix;
    // The file is made and locked under a name no clean-up matches, and then linked into place,
    // so that no clean-up ever sees it unlocked.
    const QByteArray native = QFile::encodeName(name);
    const QByteArray making = native + ".new";
    const int fd = ::open(making.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    const bool made = lockWhole(fd) && ::link(making.constData(), native.constData()) == 0;
    ::unlink(making.constData());
    if (!made) {
        ::close(fd);
        return;
    }
    m_path = name;
    m_fd = fd;
    std::lock_guard guard(registryMutex);
    registry().push_back(native);
}

PartialFile::~PartialFile() {
    if (m_fd < 0)
        return;
    const QByteArray native = QFile::encodeName(m_path);
    {
        std::lock_guard guard(registryMutex);
        auto& names = registry();
        names.erase(std::remove(names.begin(), names.end(), native), names.end());
        if (!m_committed)
            ::unlink(native.constData());
    }
    ::close(m_fd);
}

bool PartialFile::commit(const QString& target) {
    if (m_fd < 0)
        return false;
    if (m_committed)
        return true;
    keepPermissionsOf(target, m_fd);
    std::lock_guard guard(registryMutex);
    if (!WorkFileLock::replace(m_path, target))
        return false;
    m_committed = true;
    auto& names = registry();
    names.erase(std::remove(names.begin(), names.end(), QFile::encodeName(m_path)), names.end());
    return true;
}

bool PartialFile::isPartialName(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\..*\\.partial-[0-9a-f]{32}(\\.[^./]*)?$"),
        QRegularExpression::DotMatchesEverythingOption);
    return pattern.match(name).hasMatch();
}

int PartialFile::removeStale(const QString& folder) {
    int removed = 0;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral(".*.partial-*")}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        if (!isPartialName(name))
            continue;
        const QByteArray native = QFile::encodeName(folder + QLatin1Char('/') + name);
        const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        // Only a regular file that the name still names, and that nobody holds.
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && !heldElsewhere(fd) &&
            ::lstat(native.constData(), &named) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino && ::unlink(native.constData()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

void PartialFile::removeAllOfProcess() {
    std::lock_guard guard(registryMutex);
    for (const QByteArray& name : registry())
        ::unlink(name.constData());
    registry().clear();
}

} // namespace qdx
