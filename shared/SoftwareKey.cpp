#include "shared/SoftwareKey.h"

#include "shared/IniFile.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>

#include <cmath>
#include <optional>

namespace {

// Day 0 of the serial date-and-time kind.
const QDate kSerialEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
// Serial dates are kept within the years 1 to 9999.
constexpr double kSerialLimit = 2958466.0;

QString section(const QString& title) {
    return QStringLiteral("Software\\") + title;
}

double toSerial(const QDateTime& when) {
    const qint64 days = kSerialEpoch.daysTo(when.date());
    const double fraction = when.time().msecsSinceStartOfDay() / kMsPerDay;
    // Before the epoch the fraction still counts forward from midnight of the day.
    return days >= 0 ? double(days) + fraction : double(days) - fraction;
}

std::optional<QDateTime> fromSerial(double serial) {
    if (!std::isfinite(serial) || std::fabs(serial) >= kSerialLimit)
        return std::nullopt;
    const double whole = std::trunc(serial);
    qint64 days = qint64(whole);
    qint64 ms = std::llround(std::fabs(serial - whole) * kMsPerDay);
    if (ms >= qint64(kMsPerDay)) {
        ms -= qint64(kMsPerDay);
        ++days;
    }
    const QDate date = kSerialEpoch.addDays(days);
    if (!date.isValid())
        return std::nullopt;
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

std::optional<double> parseNumber(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double roundCurrency(double amount) {
    return std::round(amount * 10000.0) / 10000.0;
}

[[noreturn]] void notOfKind(const QString& valueName, const char* kind) {
    throw std::invalid_argument("The value for '" + valueName.toStdString() + "' is not " + kind);
}

} // namespace

namespace qdx {

SoftwareKeyError::SoftwareKeyError(const QString& valueName)
    : Exception(QStringLiteral("Failed to set data for '%1'").arg(valueName)) {}

QString softwareKeyFile() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Quadrix/software.ini");
}

} // namespace qdx

QVariant LerChaveSoftware(const QString& title, const QString& valueName, TTipoChave kind,
                          const QVariant& defaultValue) {
    const std::optional<QString> text =
        qdx::IniFile(qdx::softwareKeyFile()).readValue(section(title), valueName);
    if (!text)
        return defaultValue;
    switch (kind) {
    case TTipoChave::tcTexto:
        return *text;
    case TTipoChave::tcBooleano:
        if (const auto value = qdx::IniFile::parseInteger(*text))
            return *value != 0;
        break;
    case TTipoChave::tcInteiro:
        if (const auto value = qdx::IniFile::parseInteger(*text))
            return *value;
        break;
    case TTipoChave::tcMoeda:
        if (const auto value = parseNumber(*text))
            return roundCurrency(*value);
        break;
    case TTipoChave::tcDataHora: {
        const QDateTime value = QDateTime::fromString(*text, Qt::ISODateWithMs);
        if (value.isValid())
            return value;
        break;
    }
    case TTipoChave::tcDataHoraSerial:
        if (const auto serial = parseNumber(*text))
            if (const auto value = fromSerial(*serial))
                return *value;
        break;
    }
    return defaultValue;
}

void GravarChaveSoftware(const QString& title, const QString& valueName, const QVariant& value,
                         TTipoChave kind) {
    QString text;
    switch (kind) {
    case TTipoChave::tcTexto:
        if (!value.canConvert<QString>())
            notOfKind(valueName, "a text");
        text = value.toString();
        break;
    case TTipoChave::tcBooleano:
        if (!value.canConvert<bool>())
            notOfKind(valueName, "a boolean");
        text = value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        break;
    case TTipoChave::tcInteiro: {
        bool ok = false;
        const int number = value.toInt(&ok);
        if (!ok)
            notOfKind(valueName, "an integer");
        text = QString::number(number);
        break;
    }
    case TTipoChave::tcMoeda: {
        bool ok = false;
        const double amount = value.toDouble(&ok);
        if (!ok || !std::isfinite(amount) || std::fabs(amount) >= 922337203685477.0)
            notOfKind(valueName, "a currency amount");
        text = QString::number(roundCurrency(amount), 'f', 4);
        break;
    }
    case TTipoChave::tcDataHora:
    case TTipoChave::tcDataHoraSerial: {
        const QDateTime when = value.toDateTime();
        if (!when.isValid())
            notOfKind(valueName, "a date and time");
        if (kind == TTipoChave::tcDataHora) {
            text = when.toString(Qt::ISODateWithMs);
        } else {
            const double serial = toSerial(when);
            if (std::fabs(serial) >= kSerialLimit)
                notOfKind(valueName, "a date and time of the years 1 to 9999");
            text = QString::number(serial, 'f', 10);
        }
        break;
    }
    }

    const QString file = qdx::softwareKeyFile();
    QDir().mkpath(QFileInfo(file).absolutePath());
    try {
        qdx::IniFile(file).writeString(section(title), valueName, text);
    } catch (const qdx::IniWriteError&) {
        throw qdx::SoftwareKeyError(valueName);
    }
}
