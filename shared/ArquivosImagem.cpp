#include "shared/ArquivosImagem.h"

#include "shared/BmpFile.h"
#include "shared/GifFile.h"
#include "shared/IcoFile.h"
#include "shared/JpegFile.h"
#include "shared/PictureError.h"
#include "shared/WmfFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <span>

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

TBitmap CarregarImagem(const QString& caminho) {
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

    QFile file(caminho);
    if (!file.open(QIODevice::ReadOnly))
        throw failed(file.errorString());
    if (file.size() > qdx::kMaxPictureFileBytes)
        throw failed(QStringLiteral("the file is too large (%1 bytes).").arg(file.size()));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw failed(file.errorString());
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.constData()),
                                         size_t(data.size()));
    try {
        switch (tipo) {
        case Tipo::Bmp:
            return qdx::BmpFile::decode(bytes);
        case Tipo::Gif:
            return qdx::GifFile::decode(bytes);
        case Tipo::Jpeg:
            return qdx::JpegFile::decode(bytes);
        case Tipo::Wmf:
            return qdx::WmfFile::decode(bytes);
        case Tipo::Ico:
            return qdx::IcoFile::decode(bytes);
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
