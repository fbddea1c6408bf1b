#include "shared/ArquivosImagem.h"

#include "platform/core/ReplaceableFile.h"

#include "shared/BmpFile.h"
#include "shared/GifFile.h"
#include "shared/IcoFile.h"
#include "shared/JpegFile.h"
#include "shared/PictureError.h"
#include "shared/WmfFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <span>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using qdx::PictureError;

namespace {

QString nativePath(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

QString ExtensaoImagem(const QString& nome) {
    const qsizetype dot = nome.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? nome.left(5) : nome.mid(dot, 5);
}

bool ExtensaoImagemValida(const QString& nome) {
    const QString extensao = ExtensaoImagem(nome);
    return extensao == QLatin1String(".jpg") || extensao == QLatin1String(".jpeg") ||
           extensao == QLatin1String(".gif") || extensao == QLatin1String(".bmp") ||
           extensao == QLatin1String(".wmf");
}

void SalvarImagem(const TBitmap& bitmap, const QString& nome) {
    const QString extensao = ExtensaoImagem(nome);
    QByteArray data;
    try {
        if (extensao == QLatin1String(".bmp"))
            data = qdx::BmpFile::encode(bitmap);
        else if (extensao == QLatin1String(".gif"))
            data = qdx::GifFile::encode(bitmap);
        else if (extensao == QLatin1String(".jpg") || extensao == QLatin1String(".jpeg"))
            data = qdx::JpegFile::encode(bitmap);
        else if (extensao == QLatin1String(".wmf"))
            data = qdx::WmfFile::encode(bitmap);
        else
            throw PictureError(QStringLiteral("\"%1\" is not a picture file type that can be "
                                              "written (.bmp, .gif, .jpg, .jpeg or .wmf).")
                                   .arg(extensao));
    } catch (const PictureError& e) {
        throw PictureError(QStringLiteral("Cannot save %1: %2").arg(nativePath(nome), e.text()));
    }

    // A read-only picture is not replaced, even where the folder's rights (or root's) would let
    // the rename below do it.
    if (!qdx::mayReplaceFile(nome))
        throw PictureError(QStringLiteral("Cannot save %1: the file is read-only or not a file.")
                               .arg(nativePath(nome)));
    // QSaveFile writes a temporary file in the target's folder and renames it over the target
    // only once everything was written, so a full disk never leaves a truncated picture behind.
    QSaveFile file(nome);
    auto failed = [&](const QString& reason) {
        file.cancelWriting();
        throw PictureError(QStringLiteral("Cannot save %1: %2").arg(nativePath(nome), reason));
    };
    // Unbuffered, so that every write reaches the file here: a short write (a full disk) is seen
    // at once, and writing the rest again brings out the system's reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        failed(file.errorString());
    const char* next = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const qint64 written = file.write(next, left);
        if (written <= 0)
            failed(file.errorString());
        next += written;
        left -= written;
    }
    if (!file.commit())
        failed(file.errorString());
}

namespace {

// Reads a whole picture file. Only regular files are opened, and without waiting: a named pipe or
// a device that bears a picture's name would otherwise block the reader forever.
QByteArray lerArquivo(const QString& caminho) {
    const QByteArray native = QFile::encodeName(caminho);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw PictureError(QString::fromLocal8Bit(std::strerror(errno)));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw PictureError(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(info.st_mode))
        throw PictureError(QStringLiteral("it is not a regular file."));
    if (info.st_size > qdx::kMaxPictureFileBytes)
        throw PictureError(QStringLiteral("the file is too large (%1 bytes).").arg(info.st_size));
    QByteArray data(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::read(fd, data.data() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw PictureError(QString::fromLocal8Bit(std::strerror(errno)));
        if (n == 0)
            break; // the file shrank meanwhile: decode what is there
        done += n;
    }
    data.truncate(done);
    return data;
}

} // namespace

TBitmap CarregarImagem(const QString& caminho) {
    return CarregarImagem(caminho, QSize());
}

TBitmap CarregarImagem(const QString& caminho, QSize atLeast) {
    const QString extensao = ExtensaoImagem(caminho).toLower();
    auto failed = [&](const QString& reason) {
        return PictureError(QStringLiteral("Cannot open %1: %2").arg(nativePath(caminho), reason));
    };
    enum class Tipo { Bmp, Gif, Jpeg, Wmf, Ico } tipo;
    if (extensao == QLatin1String(".bmp"))
        tipo = Tipo::Bmp;
    else if (extensao == QLatin1String(".gif"))
        tipo = Tipo::Gif;
    else if (extensao == QLatin1String(".jpg") || extensao == QLatin1String(".jpeg"))
        tipo = Tipo::Jpeg;
    else if (extensao == QLatin1String(".wmf"))
        tipo = Tipo::Wmf;
    else if (extensao == QLatin1String(".ico"))
        tipo = Tipo::Ico;
    else
        throw failed(
            QStringLiteral("\"%1\" is not a picture file type that can be opened.").arg(extensao));

    try {
        const QByteArray data = lerArquivo(caminho);
        const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.constData()),
                                             size_t(data.size()));
        switch (tipo) {
        case Tipo::Bmp:
            return qdx::BmpFile::decode(bytes, atLeast);
        case Tipo::Gif:
            return qdx::GifFile::decode(bytes, atLeast);
        case Tipo::Jpeg:
            return qdx::JpegFile::decodeAtLeast(bytes, atLeast);
        case Tipo::Wmf:
            return qdx::WmfFile::decode(bytes);
        case Tipo::Ico:
            return qdx::IcoFile::decode(bytes, atLeast);
        }
    } catch (const PictureError& e) {
        throw failed(e.text());
    }
    throw failed(QStringLiteral("unknown picture type."));
}

bool CarregarImagem(const QString& caminho, TBitmap& bitmap) {
    try {
        bitmap = CarregarImagem(caminho);
        return true;
    } catch (const std::exception&) {
        bitmap = TBitmap();
        return false;
    }
}
