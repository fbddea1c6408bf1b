#pragma once

// The verbs of the qdx tool. Each takes the words after its name and returns the exit code:
// 0 success, 1 failure (with a message on standard error), 2 wrong usage.

#include <QString>
#include <QStringList>

#include <functional>

namespace qdx::cli {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

struct Verb {
    const char* name;
    const char* usage;   // the words after the verb
    const char* summary; // one line
    std::function<int(const QStringList&)> run;
};

// Parsed words of one verb: positional words, options with values and flags.
class CommandLine {
public:
    // `valueOptions` take the next word as value ("--colors NAME"); `flags` take none.
    CommandLine(const QStringList& words, const QStringList& valueOptions,
                const QStringList& flags);
    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    const QStringList& positional() const { return m_positional; }
    bool has(const QString& option) const;
    QString value(const QString& option, const QString& fallback = {}) const;

private:
    QStringList m_positional;
    QStringList m_flags;
    QList<QPair<QString, QString>> m_values;
    QString m_error;
};

// Prints "qdx: message" on standard error.
void printError(const QString& message);
// Prints a usage error for a verb and returns kUsage.
int usageError(const Verb& verb, const QString& message);

// The verbs, in the order --help lists them.
const std::vector<Verb>& verbs();
// The verb of that name (for its usage text).
const Verb& verbNamed(const char* name);

} // namespace qdx::cli
