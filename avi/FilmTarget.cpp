#include "avi/FilmTarget.h"

#include "platform/core/Exception.h"
#include "platform/core/ReplaceableFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

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
    const QString replaced = qdx::replacedFilePath(target);
    if (qdx::mayReplaceFile(replaced))
        return;
    const QFileInfo info(replaced);
    const QString reason = info.isDir()    ? QString::fromLocal8Bit(std::strerror(EISDIR))
                           : info.isFile() ? QStringLiteral("the film there is read-only")
                                           : QStringLiteral("what is there is not a file");
    throw qdx::Exception(
        QStringLiteral("Cannot write %1: %2.").arg(QDir::toNativeSeparators(target), reason));
}

bool FilmTarget::finish(PAVIFILE file) {
    m_finished = file && qdx::vfw::finishFile(file) == AVIERR_OK;
    return m_finished;
}

bool FilmTarget::commit() {
    return m_finished && qdx::mayReplaceFile(m_target) && m_partial.commit(m_target);
}
