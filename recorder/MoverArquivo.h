#pragma once

#include <QString>

// Moves a file to another name, replacing a file of that name: a rename within one file system,
// otherwise a copy to a new hidden name of its own beside the target, renamed over it once
// complete, and then the source is removed. On failure the source stays where it was and `erro`
// says why.
bool MoverArquivo(const QString& origem, const QString& destino, QString& erro);
