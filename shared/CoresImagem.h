#pragma once

// The colour-depth names of the settings numero_cores and numero_cores_video, and the depth they
// give a picture or a film.

#include "platform/core/TBitmap.h"

#include <QString>
#include <QStringList>

#include <optional>

// The six names as the configuration dialog lists them, in order.
const QStringList& NomesCores();

// The depth a name stands for: one of the six listed names or the plural of the first three
// ("2 colors", "16 colors", "256 colors"), compared exactly, letter case and blanks included.
// Any other text has no depth.
std::optional<TPixelFormat> FormatoCores(const QString& nome);

// Gives the bitmap the depth that `nome` stands for (converting the pixels it already holds);
// an unrecognised name changes nothing. Returns whether the name was recognised.
bool AplicarCores(TBitmap& bitmap, const QString& nome);

// Gives the bitmap the depth that the setting numero_cores names; an unrecognised name changes
// nothing. The screen copy calls it while its bitmap is still empty, before sizing it.
void AplicarCoresImagem(TBitmap& bitmap);
