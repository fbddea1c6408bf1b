#pragma once

// The one way the engine writes a film or sound file: under a hidden temporary name in the
// target's folder, put in place of the target only when the whole file has reached the disk. Until
// then the file of the target's name, which may be the operation's own source, stays as it was;
// a file that is not committed is deleted when the FilmTarget goes, so a cancelled or failed
// operation leaves nothing of itself behind.

#include "platform/vfw/Vfw.h"

#include <QString>

class FilmTarget {
public:
    explicit FilmTarget(const QString& target);
    ~FilmTarget();
    FilmTarget(const FilmTarget&) = delete;
    FilmTarget& operator=(const FilmTarget&) = delete;

    // Where the file is written.
    const QString& path() const { return m_partial; }

    // Finishes `file`, the caller's open handle of path(): true when every write of it reached the
    // disk. Streams that still write into the file (compressed streams) must be released before.
    bool finish(PAVIFILE file);
    // Renames the finished file over the target, once the caller has released every handle of
    // it. False, with the target untouched, when finish() failed or was not called, or when the
    // rename fails.
    bool commit();

private:
    QString m_target;
    QString m_partial;
    bool m_finished = false;
    bool m_committed = false;
};
