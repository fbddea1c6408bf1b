#include "platform/core/Prompts.h"

#include <atomic>
#include <cstdio>

namespace qdx {

namespace {

ConsolePrompts& defaultPrompts() {
    static ConsolePrompts instance;
    return instance;
}

std::atomic<Prompts*> current{nullptr};

void print(const char* kind, const QString& text) {
    const QByteArray line = QString(QString::fromLatin1(kind) + text).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
}

} // namespace

Prompts& prompts() {
    Prompts* p = current.load();
    return p ? *p : defaultPrompts();
}

Prompts* setPrompts(Prompts* prompts) {
    return current.exchange(prompts);
}

void ConsolePrompts::information(const QString&, const QString& text) {
    print("", text);
}

void ConsolePrompts::error(const QString&, const QString& text) {
    print("error: ", text);
}

bool ConsolePrompts::question(const QString&, const QString& text) {
    print(m_answerYes ? "question (answered yes): " : "question (answered no): ", text);
    return m_answerYes;
}

std::optional<QString> ConsolePrompts::openFile(const FileDialogRequest&) {
    return std::nullopt;
}

std::optional<QString> ConsolePrompts::saveFile(const FileDialogRequest&) {
    return std::nullopt;
}

std::optional<QString> ConsolePrompts::chooseFolder(const QString&, const QString&) {
    return std::nullopt;
}

QStringList qtNameFilters(const QString& barFilter) {
    QStringList result;
    const QStringList parts = barFilter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString description = parts[i];
        // Descriptions that already show their patterns keep them once.
        if (description.contains(QLatin1Char('(')))
            description = description.left(description.indexOf(QLatin1Char('('))).trimmed();
        result.append(description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return result;
}

std::optional<QStringList> Prompts::openFiles(const FileDialogRequest& request) {
    const std::optional<QString> file = openFile(request);
    if (!file)
        return std::nullopt;
    return QStringList{*file};
}

} // namespace qdx
