#include "dialogs/TInformacoesSistema.h"

#include <QFile>
#include <QLocale>

#include <sys/statvfs.h>
#include <sys/utsname.h>

namespace {

// The first character of a locale format that is not part of a field: its separator.
QChar separador(const QString& format, QChar fallback) {
    for (const QChar c : format)
        if (!c.isLetter() && c != u'\'' && !c.isSpace())
            return c;
    return fallback;
}

QString bytes(uint64_t value) {
    return QString::number(value) + QStringLiteral(" Bytes");
}

} // namespace

QString TextoMemoria(uint64_t total, uint64_t livre) {
    return QStringLiteral("Total: ") + bytes(total) + u'\t' + QStringLiteral("Free") + bytes(livre);
}

bool LerMemoria(const QString& meminfo, uint64_t& total, uint64_t& livre) {
    QFile file(meminfo);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    std::optional<uint64_t> memTotal, memAvailable, memFree;
    // Lines read "MemTotal:       16318480 kB".
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2)
            continue;
        bool ok = false;
        uint64_t value = words[1].toULongLong(&ok);
        if (!ok)
            continue;
        if (words.size() >= 3 && words[2] == "kB")
            value *= 1024;
        if (words[0] == "MemTotal:")
            memTotal = value;
        else if (words[0] == "MemAvailable:")
            memAvailable = value;
        else if (words[0] == "MemFree:")
            memFree = value;
    }
    if (!memTotal)
        return false;
    total = *memTotal;
    livre = memAvailable ? *memAvailable : memFree.value_or(0);
    return true;
}

QString TextoDataHora(const QDateTime& moment) {
    const QLocale locale = QLocale::system();
    const QChar data = separador(locale.dateFormat(QLocale::ShortFormat), u'/');
    const QChar hora = separador(locale.timeFormat(QLocale::ShortFormat), u':');
    const QString format = QStringLiteral("dd%1MM%1yyyy hh%2mm%2ss").arg(data).arg(hora);
    return moment.toString(format);
}

TInformacoesSistema TInformacoesSistema::Atuais() {
    TInformacoesSistema info;
    utsname names{};
    if (::uname(&names) == 0)
        info.SO =
            QString::fromLocal8Bit(names.sysname) + u' ' + QString::fromLocal8Bit(names.release);
    else
        info.SO = QStringLiteral("Unknow");
    uint64_t total = 0, livre = 0;
    if (LerMemoria(QStringLiteral("/proc/meminfo"), total, livre))
        info.Memoria = TextoMemoria(total, livre);
    else
        info.Memoria = TextoMemoria(0, 0);
    struct statvfs disk {};
    if (::statvfs(".", &disk) == 0) {
        info.EspacoLivre = bytes(uint64_t(disk.f_bavail) * disk.f_frsize);
        info.EspacoTotal = bytes(uint64_t(disk.f_blocks) * disk.f_frsize);
    } else {
        info.EspacoLivre = bytes(0);
        info.EspacoTotal = bytes(0);
    }
    return info;
}
