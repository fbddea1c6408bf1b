#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace qdx {

// What a file dialog is asked for. `filter` uses the bar-separated form "Description|*.a;*.b|...".
struct FileDialogRequest {
    QString title;
    QString filter;
    QString defaultSuffix; // without the dot
    QString directory;
    QString fileName;
    bool mustExist = false;
    bool picturePreview = false; // show the picture file the user points at beside the list
};

// Every message box, question and file dialog of the programs goes through this interface: the
// windows answer with Qt dialogs, tests script the answers, the command-line tool answers from its
// options and prints messages to standard error.
class Prompts {
public:
    virtual ~Prompts() = default;

    // A modal box with one OK button and the information or error icon.
    virtual void information(const QString& caption, const QString& text) = 0;
    virtual void error(const QString& caption, const QString& text) = 0;
    // A modal box with Yes and No and the question icon; true for Yes.
    virtual bool question(const QString& caption, const QString& text) = 0;
    // File dialogs; no value when the user cancels.
    virtual std::optional<QString> openFile(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> saveFile(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> chooseFolder(const QString& title, const QString& start) = 0;
    // Whether these prompts are shown on the screen. Windows that stand in for a box (the
    // contact dialog of the error route) open only then; otherwise their message goes to error().
    virtual bool onScreen() const { return false; }
    // An open dialog in which several existing files can be chosen, in the dialog's order. By
    // default the single-file dialog.
    virtual std::optional<QStringList> openFiles(const FileDialogRequest& request);
};

// The program's prompts. Until a program installs its own, messages go to standard error,
// questions are answered No and dialogs are cancelled.
Prompts& prompts();
// Installs the program's prompts (not owned; nullptr restores the default). Returns the previous.
Prompts* setPrompts(Prompts* prompts);

// Prompts for programs without windows: messages go to standard error prefixed by their kind,
// questions get a fixed answer, dialogs are cancelled.
class ConsolePrompts : public Prompts {
public:
    explicit ConsolePrompts(bool answerYes = false) : m_answerYes(answerYes) {}
    void setAnswer(bool yes) { m_answerYes = yes; }

    void information(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override;
    bool question(const QString& caption, const QString& text) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    std::optional<QString> chooseFolder(const QString& title, const QString& start) override;

private:
    bool m_answerYes;
};

// Splits a bar-separated filter into Qt's form ("Description (*.a *.b)").
QStringList qtNameFilters(const QString& barFilter);

} // namespace qdx
