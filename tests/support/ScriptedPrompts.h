#pragma once

#include "platform/core/Prompts.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

namespace qdx::test {

// Prompts for tests: records every box and dialog that was asked for, answers questions and file
// dialogs from queues (questions answer No and dialogs cancel once a queue is empty). Installs
// itself as the program's prompts while it lives.
class ScriptedPrompts : public Prompts {
public:
    struct Asked {
        QString kind; // "information", "error", "question", "open", "save", "folder"
        QString caption;
        QString text; // the message, or the dialog's title
        FileDialogRequest request;
    };

    ScriptedPrompts();
    ~ScriptedPrompts() override;

    std::deque<bool> answers;
    std::deque<std::optional<QString>> files;
    // Answers of the several-files dialog; once empty, it answers from `files` with one file.
    std::deque<std::optional<QStringList>> fileLists;
    std::vector<Asked> asked;
    // Answered by onScreen(): true lets windows that stand in for a box open (tests drive them).
    bool windows = false;

    // The texts asked so far of one kind.
    QStringList texts(const QString& kind) const;

    void information(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override;
    bool question(const QString& caption, const QString& text) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    std::optional<QString> chooseFolder(const QString& title, const QString& start) override;
    bool onScreen() const override { return windows; }
    std::optional<QStringList> openFiles(const FileDialogRequest& request) override;

private:
    std::optional<QString> nextFile();
    Prompts* m_previous;
};

} // namespace qdx::test
