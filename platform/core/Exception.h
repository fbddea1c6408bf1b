#pragma once

#include <QString>

#include <exception>
#include <string>

namespace qdx {

// The general exception of the programs: a message in the system's own words. Windows show the
// message; the command-line tool prints it.
class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toStdString()) {}
    const QString& Message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};

} // namespace qdx
