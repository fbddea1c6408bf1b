#include "tools/qdx/Commands.h"

#include <cstdio>

namespace qdx::cli {

CommandLine::CommandLine(const QStringList& words, const QStringList& valueOptions,
                         const QStringList& flags) {
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (word.startsWith(QStringLiteral("--"))) {
            if (valueOptions.contains(word)) {
                if (i + 1 >= words.size()) {
                    m_error = word + QStringLiteral(" needs a value");
                    return;
                }
                m_values.append({word, words[++i]});
            } else if (flags.contains(word)) {
                m_flags.append(word);
            } else {
                m_error = QStringLiteral("unknown option ") + word;
                return;
            }
        } else {
            m_positional.append(word);
        }
    }
}

bool CommandLine::has(const QString& option) const {
    if (m_flags.contains(option))
        return true;
    for (const auto& v : m_values)
        if (v.first == option)
            return true;
    return false;
}

QString CommandLine::value(const QString& option, const QString& fallback) const {
    for (const auto& v : m_values)
        if (v.first == option)
            return v.second;
    return fallback;
}

void printError(const QString& message) {
    std::fprintf(stderr, "qdx: %s\n", message.toLocal8Bit().constData());
}

int usageError(const Verb& verb, const QString& message) {
    printError(message);
    std::fprintf(stderr, "usage: qdx %s %s\n", verb.name, verb.usage);
    return kUsage;
}

const Verb& verbNamed(const char* name) {
    for (const Verb& verb : verbs())
        if (QLatin1String(verb.name) == QLatin1String(name))
            return verb;
    static const Verb unknown{"?", "", "", {}};
    return unknown;
}

} // namespace qdx::cli
