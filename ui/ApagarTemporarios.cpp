#include "ui/ApagarTemporarios.h"

#include "platform/core/AppFolder.h"
#include "platform/core/WorkFileLock.h"

#include <QDir>

void ApagarTemporarios() {
    const QDir dir(qdx::applicationFolder());
    if (!dir.exists())
        return;
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : entries) {
        // Only the engine's own work files, only those no running program holds, and never one
        // kept because it holds a recording the user was told about.
        if (qdx::WorkFileLock::isWorkFileName(name) &&
            !qdx::WorkFileLock::isKeptRecording(dir.filePath(name)))
            qdx::WorkFileLock::removeIfUnused(dir.filePath(name));
    }
}
