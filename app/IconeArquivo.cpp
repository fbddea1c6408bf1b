#include "app/IconeArquivo.h"

#include "shared/IcoFile.h"
#include "shared/PictureError.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>
#include <QStyle>
#include <QTextStream>

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

TBitmap onWhite(const QIcon& icon) {
    QImage image(kIconSize, kIconSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    icon.paint(&painter, QRect(0, 0, kIconSize, kIconSize));
    painter.end();
    return TBitmap(image);
}

QIcon themeIcon(const QStringList& names) {
    for (const QString& name : names)
        if (!name.isEmpty() && QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    return {};
}

} // namespace

TBitmap primeiroIcone(std::span<const uint8_t> file) {
    constexpr size_t kHeader = 6, kEntry = 16;
    if (file.size() < kHeader + kEntry)
        throw qdx::PictureError(QStringLiteral("The icon file is too short."));
    const uint16_t count = uint16_t(file[4] | file[5] << 8);
    if (count == 0)
        throw qdx::PictureError(QStringLiteral("The icon file holds no image."));
    const uint8_t* entry = file.data() + kHeader;
    const uint32_t size = le32(entry + 8);
    const uint32_t offset = le32(entry + 12);
    if (size == 0 || offset > file.size() || size > file.size() - offset)
        throw qdx::PictureError(QStringLiteral("The icon file's first image lies outside it."));
    // A file of that one image, read by the icon reader (which checks everything else).
    std::vector<uint8_t> single(kHeader + kEntry + size);
    std::copy_n(file.data(), kHeader + kEntry, single.data());
    single[4] = 1;
    single[5] = 0;
    put32(single.data() + kHeader + 12, uint32_t(kHeader + kEntry));
    std::copy_n(file.data() + offset, size, single.data() + kHeader + kEntry);
    return qdx::IcoFile::decode(single);
}

QIcon iconeDesktop(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream in(&file);
    bool inEntry = false;
    QString name;
    // Desktop entries are small; a hostile one is read no further than 1 MiB.
    qint64 read = 0;
    while (!in.atEnd() && read < (1 << 20)) {
        const QString line = in.readLine(4096).trimmed();
        read += line.size() + 1;
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || !line.startsWith(QLatin1String("Icon")))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || line.left(eq).trimmed() != QLatin1String("Icon"))
            continue;
        name = line.mid(eq + 1).trimmed();
        break;
    }
    if (name.isEmpty())
        return {};
    if (QFileInfo(name).isAbsolute()) {
        QIcon icon(name);
        return QFileInfo(name).isFile() && !icon.pixmap(kIconSize).isNull() ? icon : QIcon();
    }
    // Names may carry an extension by mistake; the theme knows them without it.
    QString bare = name;
    for (const char* ext : {".png", ".svg", ".xpm"})
        if (bare.endsWith(QLatin1String(ext)))
            bare.chop(4);
    return themeIcon({name, bare});
}

TBitmap IconeAssociado(const QString& path) {
    const QFileInfo info(path);
    const QString suffix = info.suffix().toLower();
    if (suffix == QLatin1String("ico")) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw qdx::PictureError(QStringLiteral("Cannot read %1.").arg(path));
        if (file.size() > qdx::kMaxPictureFileBytes)
            throw qdx::PictureError(QStringLiteral("%1 is too large for an icon.").arg(path));
        const QByteArray bytes = file.readAll();
        return primeiroIcone(
            std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())));
    }
    QIcon icon;
    if (suffix == QLatin1String("desktop"))
        icon = iconeDesktop(path);
    if (icon.isNull()) {
        const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
        icon = themeIcon({type.iconName(), type.genericIconName()});
    }
    if (icon.isNull())
        icon =
            themeIcon({info.isDir() ? QStringLiteral("folder") : QStringLiteral("text-x-generic"),
                       QStringLiteral("unknown")});
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(info.isDir() ? QStyle::SP_DirIcon
                                                                : QStyle::SP_FileIcon);
    return onWhite(icon);
}
