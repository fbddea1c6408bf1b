#pragma once

// Picture files by their extension: the extension test, writing (BMP, GIF, JPEG, WMF) and the one
// entry point that loads a picture for the picture windows and the image browser.

#include "platform/core/TBitmap.h"

#include <QSize>
#include <QString>

// The extension of a file name: the text from its last "." (in the whole path, folders
// included), at most five characters, the dot included; a name without any "." gives its first
// five characters, which never match an extension.
QString ExtensaoImagem(const QString& nome);

// True when the extension (above) is exactly ".jpg", ".jpeg", ".gif", ".bmp" or ".wmf", letter
// case included. Shows nothing.
bool ExtensaoImagemValida(const QString& nome);

// Writes the bitmap in the format its extension selects, replacing an existing file:
//  ".bmp" the bitmap in its own depth and palette; ".gif" one image (16- and 256-colour bitmaps
//  keep their palette, others go onto the web palette); ".jpg", ".jpeg" baseline JPEG at quality
//  90; ".wmf" a placeable metafile drawing the bitmap at (0, 0).
// The file is first written beside the target under a temporary name and then renamed over it,
// so a failed write leaves any existing file as it was. Throws qdx::PictureError naming the file
// and the reason when the extension is none of those, the bitmap is empty, or the file cannot be
// written (missing folder, no rights, full disk).
void SalvarImagem(const TBitmap& bitmap, const QString& nome);

// Loads a picture by its extension, compared without regard to case: ".bmp", ".gif" (the first
// image at the file's full size), ".jpg" and ".jpeg", ".wmf" (played onto a white bitmap of the
// metafile's size) and ".ico" (the largest image drawn on white). Throws qdx::PictureError naming
// the file and the reason for a missing or unreadable file, another extension, or a malformed
// picture.
// Only regular files are read (a named pipe or device is refused at once rather than waited on).
TBitmap CarregarImagem(const QString& caminho);

// The same for a thumbnail of at least `atLeast` pixels each way: a JPEG comes back reduced by
// libjpeg's DCT scaling to the smallest size not below it; a BMP, GIF or icon at least twice as
// large each way comes back reduced while its rows are read (a 32-bit bitmap not below it), so
// that no thumbnail needs the whole picture in memory; a WMF comes back whole.
TBitmap CarregarImagem(const QString& caminho, QSize atLeast);

// The same without exceptions, for callers that only need to know whether it worked: true and
// the picture in `bitmap`, or false (the bitmap is then of no use).
bool CarregarImagem(const QString& caminho, TBitmap& bitmap);
