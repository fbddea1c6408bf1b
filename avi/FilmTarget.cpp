#include "avi/FilmTarget.h"

#include "platform/core/WorkFileLock.h"

#include <QFile>

FilmTarget::FilmTarget(const QString& target)
    : m_target(target), m_partial(qdx::vfw::partialPathFor(target)) {}

FilmTarget::~FilmTarget() {
    if (!m_committed)
        QFile::remove(m_partial);
}

bool FilmTarget::finish(PAVIFILE file) {
    m_finished = file && qdx::vfw::finishFile(file) == AVIERR_OK;
    return m_finished;
}

bool FilmTarget::commit() {
    if (m_committed)
        return true;
    // A work file of this process keeps its lock across the rename.
    m_committed = m_finished && qdx::WorkFileLock::replace(m_partial, m_target);
    return m_committed;
}
