#include "platform/core/WorkFileLock.h"

#include "platform/core/AppFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qdx {

namespace {

// The locks this process holds, so that replace() can move one to the file renamed over it.
std::mutex registryMutex;
std::vector<WorkFileLock*>& registry() {
    static std::vector<WorkFileLock*> locks;
    return locks;
}

QByteArray nativeName(const QString& path) {
    return QFile::encodeName(path);
}

// Opens and locks a file without waiting; -1 when either fails.
int openLocked(const QByteArray& name, int flags, mode_t mode = 0) {
    const int fd = ::open(name.constData(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sameFile(int fd, const QByteArray& name) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(name.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

WorkFileLock::WorkFileLock(const QString& path) : m_path(path) {
    const QByteArray name = nativeName(path);
    // A new file is made and locked under a hidden name first and then linked into place, so
    // that no clean-up ever sees it unlocked.
    const QFileInfo info(path);
    const QByteArray hidden = nativeName(info.absolutePath() + QStringLiteral("/.") +
                                         info.fileName() + QStringLiteral(".new"));
    int fd = openLocked(hidden, O_RDWR | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
        const bool linked = ::link(hidden.constData(), name.constData()) == 0;
        ::unlink(hidden.constData());
        if (!linked) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        // The file exists already (or the hidden name was taken): lock it where it is.
        fd = openLocked(name, O_RDWR);
        if (fd >= 0 && !sameFile(fd, name)) {
            ::close(fd);
            fd = -1;
        }
    }
    m_fd = fd;
    if (m_fd >= 0)
        registerSelf();
}

WorkFileLock::~WorkFileLock() {
    unlock();
}

WorkFileLock::WorkFileLock(WorkFileLock&& other) noexcept {
    *this = std::move(other);
}

WorkFileLock& WorkFileLock::operator=(WorkFileLock&& other) noexcept {
    if (this == &other)
        return *this;
    unlock();
    std::lock_guard guard(registryMutex);
    m_path = std::move(other.m_path);
    m_fd = other.m_fd;
    other.m_fd = -1;
    other.m_path.clear();
    auto& locks = registry();
    std::replace(locks.begin(), locks.end(), &other, this);
    return *this;
}

void WorkFileLock::registerSelf() {
    std::lock_guard guard(registryMutex);
    registry().push_back(this);
}

void WorkFileLock::unregisterSelf() {
    std::lock_guard guard(registryMutex);
    auto& locks = registry();
    locks.erase(std::remove(locks.begin(), locks.end(), this), locks.end());
}

void WorkFileLock::unlock() {
    if (m_fd < 0)
        return;
    unregisterSelf();
    ::close(m_fd); // closing the last descriptor of the description releases the lock
    m_fd = -1;
}

void WorkFileLock::remove() {
    if (m_fd >= 0 && sameFile(m_fd, nativeName(m_path)))
        ::unlink(nativeName(m_path).constData());
    unlock();
}

QString WorkFileLock::newName() {
    return QStringLiteral("tmp_") + QUuid::createUuid().toString(QUuid::Id128).toUpper();
}

WorkFileLock WorkFileLock::create(const QString& suffix) {
    return WorkFileLock(applicationFolder() + newName() + suffix);
}

bool WorkFileLock::isWorkFileName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^tmp_[0-9A-Fa-f]{32}\\.(avi|wav)$"));
    return pattern.match(name).hasMatch();
}

bool WorkFileLock::removeIfUnused(const QString& path) {
    const QByteArray name = nativeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const int fd = openLocked(name, O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return false; // in use by a running program, or unreadable
    // Deleted only when the name still names the file locked (not one renamed into place since).
    const bool removed = sameFile(fd, name) && ::unlink(name.constData()) == 0;
    ::close(fd);
    return removed;
}

bool WorkFileLock::keepRecording(const QString& path) {
    const QByteArray name = nativeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return ::chmod(name.constData(), st.st_mode & 07555) == 0;
}

bool WorkFileLock::isKeptRecording(const QString& path) {
    struct stat st {};
    return ::lstat(nativeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & S_IWUSR) == 0;
}

bool WorkFileLock::replace(const QString& from, const QString& to) {
    const QByteArray source = nativeName(from);
    const QByteArray target = nativeName(to);
    std::lock_guard guard(registryMutex);
    auto& locks = registry();
    const auto held = std::find_if(locks.begin(), locks.end(), [&](const WorkFileLock* lock) {
        return lock->m_path == to || QFileInfo(lock->m_path) == QFileInfo(to);
    });
    if (held == locks.end())
        return std::rename(source.constData(), target.constData()) == 0;
    // The file coming into place is locked before the rename; the old one is let go after it.
    const int fd = openLocked(source, O_RDONLY);
    if (fd < 0)
        return false;
    if (std::rename(source.constData(), target.constData()) != 0) {
        ::close(fd);
        return false;
    }
    ::close((*held)->m_fd);
    (*held)->m_fd = fd;
    return true;
}

} // namespace qdx
