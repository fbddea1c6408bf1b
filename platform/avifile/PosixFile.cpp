#include "platform/avifile/PosixFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qdx::vfw {

namespace {

PosixFile::OpenError errorOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return PosixFile::OpenError::Missing;
    case EACCES:
    case EPERM:
    case EROFS:
        return PosixFile::OpenError::Denied;
    case EISDIR:
        return PosixFile::OpenError::NotRegular;
    default:
        return PosixFile::OpenError::Other;
    }
}

} // namespace

PosixFile::~PosixFile() {
    close();
}

PosixFile::PosixFile(PosixFile&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

PosixFile::OpenError PosixFile::openExisting(const QString& path, bool writable) {
    close();
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK keeps a FIFO from blocking the open; regular files ignore it.
    const int fd = ::open(name.constData(),
                          (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errorOf(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return OpenError::NotRegular;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_fd = fd;
    return OpenError::None;
}

PosixFile::OpenError PosixFile::create(const QString& path, bool exclusive) {
    close();
    const QByteArray name = QFile::encodeName(path);
    // Opened without truncation first, so that a file locked by another writer is left alone.
    const int fd =
        ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0)
        return errorOf(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return OpenError::NotRegular;
    }
    if (exclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return OpenError::Denied;
    }
    if (::ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        return errorOf(error);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_fd = fd;
    return OpenError::None;
}

void PosixFile::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int64_t PosixFile::size() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return -1;
    return int64_t(st.st_size);
}

bool PosixFile::readAt(int64_t offset, void* data, size_t length) const {
    if (m_fd < 0 || offset < 0)
        return false;
    auto* out = static_cast<char*>(data);
    while (length > 0) {
        const ssize_t n = ::pread(m_fd, out, length, off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        out += n;
        offset += n;
        length -= size_t(n);
    }
    return true;
}

bool PosixFile::writeAt(int64_t offset, const void* data, size_t length) {
    if (m_fd < 0 || offset < 0)
        return false;
    const auto* in = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::pwrite(m_fd, in, length, off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        in += n;
        offset += n;
        length -= size_t(n);
    }
    return true;
}

bool PosixFile::truncate(int64_t length) {
    return m_fd >= 0 && ::ftruncate(m_fd, off_t(length)) == 0;
}

} // namespace qdx::vfw
