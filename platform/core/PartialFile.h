#pragma once

// A file written in place of another: created under a hidden name beside its target
// (".<name>.partial-<32 hexadecimal digits>" and the target's extension) and renamed over the
// target once it is complete.
//
// While a PartialFile lives, its file carries an open-file-description record lock (F_OFD_SETLK
// over the whole file). The lock is independent of the flock() locks the writers and the work
// files use, and it tells any process whether the writer is still alive: the kernel drops it
// when the process ends, however it ends. So a later write into the same folder can remove the
// partial files that killed or crashed operations left behind (removeStale), and leave those of
// running ones alone.
//
// The partial files of this process are also listed, so that a program told to end by a signal
// can remove them before it goes (removeAllOfProcess).

#include <QString>

namespace qdx {

class PartialFile {
public:
    // A new, empty, locked partial file beside `target` (the path of the file to replace; links
    // are the caller's to resolve). The partial files in that folder that no process holds are
    // removed first. held() is false when the file could not be made.
    explicit PartialFile(const QString& target);
    // Removes the file unless it was committed.
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    const QString& path() const { return m_path; }
    bool held() const { return m_fd >= 0; }

    // Renames the file over `target`, which gets the permissions (and, where this process may
    // give them, the owner and group) of the file it replaces. A work file this process holds
    // keeps its work-file lock across the rename (WorkFileLock::replace). False, with the target
    // untouched and the partial file still here, when the rename fails.
    bool commit(const QString& target);

    // Whether a file name (without folder) is one partial files are given. Nothing else matches:
    // a leading dot, any name, ".partial-", exactly 32 lower-case hexadecimal digits, and then
    // nothing or one extension.
    static bool isPartialName(const QString& name);
    // Removes the regular files in `folder` with partial names that no living process holds.
    // Returns how many were removed.
    static int removeStale(const QString& folder);
    // Removes every partial file of this process that has not been committed. For the thread
    // that handles termination signals: it takes a lock and calls unlink() only.
    static void removeAllOfProcess();

private:
    QString m_path;
    int m_fd = -1;
    bool m_committed = false;
};

} // namespace qdx
