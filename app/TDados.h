#pragma once

#include <QMetaType>
#include <QString>

#include <cstdint>

// What the image browser knows of one entry of its list, attached to the entry. The picture itself
// is not kept: only its thumbnail lives in the browser's image list, and the file is read again
// when it is opened.
struct TDados {
    QString Nome;    // file name
    QString Dica;    // "Name: ...\r\nPath: ...\r\nSize: ..."
    QString Tamanho; // size text
    QString Caminho; // folder (ending in "/") + file name
    int32_t Indice = -1;
};

Q_DECLARE_METATYPE(TDados)
