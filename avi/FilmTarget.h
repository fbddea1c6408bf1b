#pragma once

// The one way the engine writes a film or sound file: under a hidden temporary name in the
// target's folder, put in place of the target only when the whole file has reached the disk. Until
// then the file of the target's name, which may be the operation's own source, stays as it was;
// a file that is not committed is deleted when the FilmTarget goes, so a cancelled or failed
// operation leaves nothing of itself behind.
//
// The target is replaced as the user's files expect: a film without write permission is never
// replaced (requireReplaceable), a replaced film keeps its permissions, and a target that is a
// symbolic link stays one: the film it names is the one replaced.

#include "platform/core/PartialFile.h"
#include "platform/vfw/Vfw.h"

#include <QString>

class FilmTarget {
public:
    // Throws qdx::Exception, before anything is written, when the target may not be replaced.
    // When no file can be made in its folder, path() is empty.
    explicit FilmTarget(const QString& target);
    FilmTarget(const FilmTarget&) = delete;
    FilmTarget& operator=(const FilmTarget&) = delete;

    // Where the file is written.
    const QString& path() const { return m_partial.path(); }

    // Finishes `file`, the caller's open handle of path(): true when every write of it reached the
    // disk. Streams that still write into the file (compressed streams) must be released before.
    bool finish(PAVIFILE file);
    // Renames the finished file over the target, once the caller has released every handle of
    // it. False, with the target untouched, when finish() failed or was not called, or when the
    // rename fails.
    bool commit();

    // Throws qdx::Exception naming `target` when a film written there may not replace the file
    // that is there (read-only, or not a regular file), whether `target` names it or links to it.
    static void requireReplaceable(const QString& target);

private:
    QString m_target;
    qdx::PartialFile m_partial;
    bool m_finished = false;
};
