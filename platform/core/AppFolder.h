#pragma once

#include <QString>

namespace qdx {

// The environment variable that points both programs at another application folder (tests use it).
inline constexpr const char* kAppFolderVariable = "QUADRIX_HOME";

// The folder of the running executable, with a trailing "/": the help file and the sibling
// program live there.
QString programFolder();

// Whether the programs run installed: the program folder is `<prefix>/bin/` and their shared
// files are in `<prefix>/share/quadrix/`. In a build tree the files lie beside the programs.
bool runsInstalled();

// The folder of the help file, with a trailing "/": `<prefix>/share/quadrix/` when installed, the
// program folder otherwise.
QString dataFolder();

// The folder of `config.ini` and the temporary "tmp_" files, with a trailing "/". It is, in order:
// the folder named by QUADRIX_HOME; the program folder when the programs are not installed and it
// can be written; otherwise a per-user folder ($XDG_DATA_HOME/Quadrix) that both programs share,
// so that installed programs never write into `<prefix>/bin`, not even for root. Decided once, at
// first use.
QString applicationFolder();

// The application title of both programs, "Quadrix": caption of every message box, tray tip and
// the key name of the per-user software values.
QString applicationTitle();

// Overrides the application folder for the rest of the run (tests).
void setApplicationFolder(const QString& folder);

} // namespace qdx
