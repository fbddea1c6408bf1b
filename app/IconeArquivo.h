#pragma once

#include "platform/core/TBitmap.h"

#include <QIcon>
#include <QString>

#include <cstdint>
#include <span>

// The icon the desktop associates with a file, as the picture windows take it:
//  - an ".ico" file (any letter case): the first image of the file;
//  - a ".desktop" entry: its Icon key, a file path or a name looked up in the icon theme;
//  - any other file: the icon of its MIME type in the icon theme (then the generic icon of its
//    kind, then the toolkit's plain file icon), so every file has one.
// Theme icons are taken at the desktop's large-icon size, 32 x 32. The picture is the icon drawn
// at (0, 0) on white. Throws qdx::PictureError for a malformed ".ico" file.
TBitmap IconeAssociado(const QString& path);

// The first image of an icon file, drawn on white. Throws qdx::PictureError when the file is
// malformed.
TBitmap primeiroIcone(std::span<const uint8_t> file);

// The icon a desktop entry names: its "Icon" key of the "[Desktop Entry]" group, as a path or as a
// theme name; a null icon when it names none that exists.
QIcon iconeDesktop(const QString& path);

// The large-icon size of the desktop.
inline constexpr int kIconSize = 32;
