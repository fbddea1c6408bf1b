#include "platform/core/AppFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

#include <unistd.h>

namespace qdx {

namespace {

QString withSlash(QString folder) {
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QMutex mutex;
QString chosenFolder;

QString decideApplicationFolder() {
    const QString fromEnvironment = qEnvironmentVariable(kAppFolderVariable);
    if (!fromEnvironment.isEmpty()) {
        QDir().mkpath(fromEnvironment);
        return withSlash(QDir(fromEnvironment).absolutePath());
    }
    const QString program = programFolder();
    if (!runsInstalled() && ::access(QFile::encodeName(program).constData(), W_OK) == 0)
        return program;
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString perUser = base + QStringLiteral("/Quadrix");
    QDir().mkpath(perUser);
    return withSlash(perUser);
}

} // namespace

QString programFolder() {
    static const QString folder = [] {
        char path[4096];
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        if (n <= 0)
            return withSlash(QDir::currentPath());
        path[n] = '\0';
        return withSlash(QFileInfo(QFile::decodeName(path)).absolutePath());
    }();
    return folder;
}

namespace {

// Where an installed program's shared files are: `<prefix>/share/quadrix/` beside `<prefix>/bin/`.
QString installedDataFolder() {
    return QDir::cleanPath(programFolder() + QStringLiteral("../share/quadrix")) + QLatin1Char('/');
}

} // namespace

bool runsInstalled() {
    static const bool installed =
        QDir(programFolder()).dirName() == QLatin1String("bin") &&
        !QFileInfo::exists(programFolder() + QStringLiteral("Quadrix.html")) &&
        QFileInfo::exists(installedDataFolder() + QStringLiteral("Quadrix.html"));
    return installed;
}

QString dataFolder() {
    return runsInstalled() ? installedDataFolder() : programFolder();
}

QString applicationFolder() {
    QMutexLocker lock(&mutex);
    if (chosenFolder.isEmpty())
        chosenFolder = decideApplicationFolder();
    return chosenFolder;
}

QString applicationTitle() {
    return QStringLiteral("Quadrix");
}

void setApplicationFolder(const QString& folder) {
    QMutexLocker lock(&mutex);
    chosenFolder = withSlash(QDir(folder).absolutePath());
}

} // namespace qdx
