#pragma once

// The work files of the AVI engine ("tmp_" + 32 hexadecimal digits + ".avi" or ".wav" in the
// application folder) and the advisory lock that marks one as in use.
//
// A work file is locked with flock(LOCK_EX) for as long as it is in use. flock locks belong to
// the open file description, so a lock held here conflicts with any other open of the same file,
// in this process or in another running program of the application. The clean-up of temporary
// files (ApagarTemporarios) deletes a work file only when it can take that lock itself without
// waiting: a file some running program still uses is left alone, and so is a work file marked as
// holding a recording the user was told about (keepRecording).

#include <QString>

namespace qdx {

class WorkFileLock {
public:
    WorkFileLock() = default;
    // Locks the file at `path`, creating it empty when it does not exist (it appears under its
    // name already locked). locked() is false when it cannot be made or another holds it.
    explicit WorkFileLock(const QString& path);
    // Releases the lock; the file stays.
    ~WorkFileLock();
    WorkFileLock(WorkFileLock&& other) noexcept;
    WorkFileLock& operator=(WorkFileLock&& other) noexcept;
    WorkFileLock(const WorkFileLock&) = delete;
    WorkFileLock& operator=(const WorkFileLock&) = delete;

    bool locked() const { return m_fd >= 0; }
    const QString& path() const { return m_path; }
    // Releases the lock now; the file stays.
    void unlock();
    // Deletes the file and then releases the lock.
    void remove();

    // A new work file name: "tmp_" followed by 32 upper-case hexadecimal digits.
    static QString newName();
    // A new work file in the application folder (newName() + `suffix`, ".avi" or ".wav"), created
    // and locked.
    static WorkFileLock create(const QString& suffix);
    // Whether a file name (without folder) is one work files are given: "tmp_", 32 hexadecimal
    // digits in either case, then ".avi" or ".wav".
    static bool isWorkFileName(const QString& name);
    // Deletes a regular file that no open file description holds a lock on. False when it is in
    // use, is not a regular file or cannot be deleted.
    static bool removeIfUnused(const QString& path);
    // Marks a work file as holding a finished recording that could not be put anywhere else (the
    // user is told where it is): its write permissions go, and the clean-up of temporary files
    // never deletes a work file so marked. False when the mode cannot be changed.
    static bool keepRecording(const QString& path);
    // Whether a work file carries that mark: a regular file its owner may not write.
    static bool isKeptRecording(const QString& path);
    // Renames `from` over `to`. When this process holds a work-file lock on `to`, the lock moves
    // to the file renamed into place before the rename, so the name is never unlocked. False when
    // the rename fails (the lock stays where it was).
    static bool replace(const QString& from, const QString& to);

private:
    void registerSelf();
    void unregisterSelf();

    QString m_path;
    int m_fd = -1;
};

} // namespace qdx
