#pragma once

#include <QString>

namespace qdx {

// The environment variable that points both programs at another application folder (tests use it).
inline constexpr const char* kAppFolderVariable = "QUADRIX_HOME";

// The folder of the running executable, with a trailing "/": the help file and the sibling
// program live there.
QString programFolder();

// The folder of `config.ini` and the temporary "tmp_" files, with a trailing "/". It is, in order:
// the folder named by QUADRIX_HOME; the program folder when it can be written; otherwise a per-user
// folder ($XDG_DATA_HOME/Quadrix) that both programs share. Decided once, at first use.
QString applicationFolder();

// The application title of both programs, "Quadrix": caption of every message box, tray tip and
// the key name of the per-user software values.
QString applicationTitle();

// Overrides the application folder for the rest of the run (tests).
void setApplicationFolder(const QString& folder);

} // namespace qdx
