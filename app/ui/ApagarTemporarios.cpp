#include "app/ui/ApagarTemporarios.h"

#include "platform/core/AppFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

void ApagarTemporarios() {
    const QString folder = qdx::applicationFolder();
    const QDir dir(folder);
    if (!dir.exists())
        return;
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        if (!name.contains(QLatin1String("tmp_"), Qt::CaseSensitive))
            continue;
        const QString path = dir.filePath(name);
        // Only files (and links) are deleted; a folder of that name stays with its contents.
        const QFileInfo info(path);
        if (info.isDir() && !info.isSymLink())
            continue;
        QFile::remove(path);
    }
}
