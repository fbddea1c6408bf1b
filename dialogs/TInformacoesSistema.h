#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

// The facts about the machine that a contact message carries, as texts.
struct TInformacoesSistema {
    QString SO;      // the kernel's name and release ("Linux 6.1.0-18-amd64"), "Unknow" if unknown
    QString Memoria; // TextoMemoria of the physical memory
    QString EspacoLivre; // free bytes of the file system of the current folder, " Bytes" after
    QString EspacoTotal; // its size in bytes, " Bytes" after

    // The facts of this machine now: uname, /proc/meminfo, statvfs of the current folder.
    static TInformacoesSistema Atuais();
};

// "Total: " total " Bytes" tab "Free" free " Bytes", all in decimal bytes.
QString TextoMemoria(uint64_t total, uint64_t livre);

// Total and available physical memory in bytes from a meminfo file (MemTotal, MemAvailable, or
// MemFree on kernels without it); false when the file cannot be read.
bool LerMemoria(const QString& meminfo, uint64_t& total, uint64_t& livre);

// The moment as "dd/mm/yyyy hh:nn:ss" with the user's date and time separators.
QString TextoDataHora(const QDateTime& moment);
