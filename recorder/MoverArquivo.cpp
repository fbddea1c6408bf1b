#include "recorder/MoverArquivo.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

QString reason(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Copies the whole of `source` into `target` and makes it reach the disk.
bool copyInto(QFile& source, QFile& target, QString& erro) {
    if (!source.open(QIODevice::ReadOnly)) {
        erro = source.errorString();
        return false;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    while (true) {
        const qint64 got = source.read(buffer.data(), buffer.size());
        if (got < 0) {
            erro = source.errorString();
            return false;
        }
        if (got == 0)
            break;
        if (target.write(buffer.constData(), got) != got) {
            erro = target.errorString();
            return false;
        }
    }
    if (!target.flush()) {
        erro = target.errorString();
        return false;
    }
    target.setPermissions(source.permissions());
    return true;
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
    // Another file system: the target appears only when the whole copy is there. The copy goes
    // to a hidden name of its own, made new beside the target (never a file that was there), and
    // removed again when anything fails.
    const QFileInfo target(destino);
    QTemporaryFile part(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                        QStringLiteral(".part-XXXXXX"));
    if (!part.open()) {
        erro = part.errorString();
        return false;
    }
    QFile source(origem);
    if (!copyInto(source, part, erro))
        return false;
    if (std::rename(QFile::encodeName(part.fileName()).constData(), to.constData()) != 0) {
        erro = reason(errno);
        return false;
    }
    part.setAutoRemove(false); // it is the target now
    QFile::remove(origem);
    return true;
}
