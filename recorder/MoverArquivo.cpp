#include "recorder/MoverArquivo.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

QString reason(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

bool MoverArquivo(const QString& origem, const QString& destino, QString& erro) {
    const QByteArray from = QFile::encodeName(origem);
    const QByteArray to = QFile::encodeName(destino);
    if (std::rename(from.constData(), to.constData()) == 0)
        return true;
    if (errno != EXDEV) {
        erro = reason(errno);
        return false;
    }
    // Another file system: the target appears only when the whole copy is there.
    const QFileInfo target(destino);
    const QString part =
        target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".part");
    QFile::remove(part);
    QFile source(origem);
    if (!source.copy(part)) {
        erro = source.errorString();
        QFile::remove(part);
        return false;
    }
    if (std::rename(QFile::encodeName(part).constData(), to.constData()) != 0) {
        erro = reason(errno);
        QFile::remove(part);
        return false;
    }
    QFile::remove(origem);
    return true;
}
