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
        // Only the engine's own work files, and only those no running program holds.
        if (qdx::WorkFileLock::isWorkFileName(name))
            qdx::WorkFileLock::removeIfUnused(dir.filePath(name));
    }
}
