#include "avi/FilmTarget.h"

#include "platform/core/Exception.h"
#include "platform/core/ReplaceableFile.h"

#include <QDir>

namespace {

// Checks the target and gives the file it replaces.
QString replaceableTarget(const QString& target) {
    FilmTarget::requireReplaceable(target);
    return qdx::replacedFilePath(target);
}

} // namespace

// A partial file that cannot be made leaves path() empty: opening it fails as creating the
// target would.
FilmTarget::FilmTarget(const QString& target)
    : m_target(replaceableTarget(target)), m_partial(m_target) {}

void FilmTarget::requireReplaceable(const QString& target) {
    if (!qdx::mayReplaceFile(qdx::replacedFilePath(target)))
        throw qdx::Exception(
            QStringLiteral("Cannot write %1: the film there is read-only or not a file.")
                .arg(QDir::toNativeSeparators(target)));
}

bool FilmTarget::finish(PAVIFILE file) {
    m_finished = file && qdx::vfw::finishFile(file) == AVIERR_OK;
    return m_finished;
}

bool FilmTarget::commit() {
    return m_finished && qdx::mayReplaceFile(m_target) && m_partial.commit(m_target);
}
