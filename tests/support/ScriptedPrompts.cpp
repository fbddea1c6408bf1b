#include "tests/support/ScriptedPrompts.h"

namespace qdx::test {

ScriptedPrompts::ScriptedPrompts() : m_previous(setPrompts(this)) {}

ScriptedPrompts::~ScriptedPrompts() {
    setPrompts(m_previous);
}

QStringList ScriptedPrompts::texts(const QString& kind) const {
    QStringList result;
    for (const Asked& a : asked)
        if (a.kind == kind)
            result.append(a.text);
    return result;
}

void ScriptedPrompts::information(const QString& caption, const QString& text) {
    asked.push_back({QStringLiteral("information"), caption, text, {}});
}

void ScriptedPrompts::error(const QString& caption, const QString& text) {
    asked.push_back({QStringLiteral("error"), caption, text, {}});
}

bool ScriptedPrompts::question(const QString& caption, const QString& text) {
    asked.push_back({QStringLiteral("question"), caption, text, {}});
    if (answers.empty())
        return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

std::optional<QString> ScriptedPrompts::nextFile() {
    if (files.empty())
        return std::nullopt;
    std::optional<QString> file = files.front();
    files.pop_front();
    return file;
}

std::optional<QStringList> ScriptedPrompts::openFiles(const FileDialogRequest& request) {
    if (fileLists.empty())
        return Prompts::openFiles(request);
    asked.push_back({QStringLiteral("open"), QString(), request.title, request});
    std::optional<QStringList> answer = fileLists.front();
    fileLists.pop_front();
    return answer;
}

std::optional<QString> ScriptedPrompts::openFile(const FileDialogRequest& request) {
    asked.push_back({QStringLiteral("open"), QString(), request.title, request});
    return nextFile();
}

std::optional<QString> ScriptedPrompts::saveFile(const FileDialogRequest& request) {
    asked.push_back({QStringLiteral("save"), QString(), request.title, request});
    return nextFile();
}

std::optional<QString> ScriptedPrompts::chooseFolder(const QString& title, const QString& start) {
    FileDialogRequest request;
    request.title = title;
    request.directory = start;
    asked.push_back({QStringLiteral("folder"), QString(), title, request});
    return nextFile();
}

} // namespace qdx::test
