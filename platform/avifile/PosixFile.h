#pragma once

// A file descriptor with the positioned reads and writes the RIFF files need. Owns the descriptor
// and closes it; not copyable.

#include <QString>

#include <cstddef>
#include <cstdint>

namespace qdx::vfw {

class PosixFile {
public:
    // How an open failed, mapped by the callers to their result codes.
    enum class OpenError { None, Missing, NotRegular, Denied, Other };

    PosixFile() = default;
    ~PosixFile();
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    PosixFile(PosixFile&& other) noexcept;
    PosixFile& operator=(PosixFile&& other) noexcept;

    // Opens an existing regular file, read-only or (writable) read-write. Directories, devices
    // and pipes are refused without blocking on them.
    OpenError openExisting(const QString& path, bool writable);
    // Creates the file or truncates an existing one, read-write. `exclusive` takes an exclusive
    // lock that fails when another writer holds one.
    OpenError create(const QString& path, bool exclusive);

    bool isOpen() const { return m_fd >= 0; }
    void close();

    // The size from fstat; -1 on failure.
    int64_t size() const;
    // Reads exactly `length` bytes at `offset`. False on an error or when the file ends first.
    bool readAt(int64_t offset, void* data, size_t length) const;
    // Writes all `length` bytes at `offset`; false on any error (a full disk included).
    bool writeAt(int64_t offset, const void* data, size_t length);
    bool truncate(int64_t length);

private:
    int m_fd = -1;
};

} // namespace qdx::vfw
