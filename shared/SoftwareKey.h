#pragma once

// Per-user values of the programs, kept where the machine-wide registry key
// Software\<application title> would hold them: the section "Software\<title>" of
// $XDG_CONFIG_HOME/Quadrix/software.ini, a folder both programs share. The skin choice lives here
// as SKIN_SELECIONADA under "Quadrix".

#include "platform/core/Exception.h"

#include <QString>
#include <QVariant>

#include <stdexcept>

// The kinds a value is read and written as.
enum class TTipoChave {
    tcTexto,          // QString, stored as it is
    tcBooleano,       // bool, stored "1" or "0"
    tcInteiro,        // int32, stored in decimal
    tcMoeda,          // a currency amount (double, four decimals kept), stored "1234.5600"
    tcDataHora,       // QDateTime, stored as ISO 8601 text with milliseconds
    tcDataHoraSerial, // QDateTime, stored as the count of days since 30 Dec 1899 with the time as
                      // the fraction of the day (the serial date of spreadsheets)
};

namespace qdx {

// A value the system refused to store: "Failed to set data for '<value name>'".
class SoftwareKeyError : public Exception {
public:
    explicit SoftwareKeyError(const QString& valueName);
    const QString& text() const { return Message(); }
};

// The file that holds the values: $XDG_CONFIG_HOME/Quadrix/software.ini.
QString softwareKeyFile();

} // namespace qdx

// The value `valueName` of Software\<title> read as `kind`; `defaultValue` when it is missing or
// does not fit the kind.
QVariant LerChaveSoftware(const QString& title, const QString& valueName, TTipoChave kind,
                          const QVariant& defaultValue);

// Stores `value` as `kind`. Throws qdx::SoftwareKeyError when the write is refused and
// std::invalid_argument when `value` cannot be taken as that kind.
void GravarChaveSoftware(const QString& title, const QString& valueName, const QVariant& value,
                         TTipoChave kind);
