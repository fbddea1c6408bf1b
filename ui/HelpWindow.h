#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

class QTextBrowser;

// The help viewer: a window showing the program's HTML help file. Topics are addressed by context
// number through anchors named "context-<number>" in the file.
class HelpWindow : public QWidget {
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Loads the file (when it is not the one shown) and shows its top; false when it cannot be
    // read.
    bool ShowContents(const QString& helpFile);
    // Shows the topic of a context number, or the top when the file has no such topic.
    bool ShowContext(const QString& helpFile, int32_t context);

    QString CurrentFile() const { return m_file; }
    // The anchor shown last ("context-7"), empty for the contents.
    QString CurrentAnchor() const { return m_anchor; }
    QTextBrowser* Browser() const { return m_browser; }

private:
    bool load(const QString& helpFile);

    QTextBrowser* m_browser;
    QString m_file;
    QString m_anchor;
};

// Help commands, numbered as the programs' help calls number them.
inline constexpr uint16_t HELP_CONTEXT = 1;
inline constexpr uint16_t HELP_QUIT = 2;
inline constexpr uint16_t HELP_CONTENTS = 3;
inline constexpr uint16_t HELP_CONTEXTPOPUP = 8;
inline constexpr uint16_t HELP_FINDER = 11;

// Runs a help command on a help file for a window: contents, a context topic (1 and 8), or closing
// the viewer (2). Returns false when the file cannot be shown, after saying so in an error box.
bool WinHelp(QWidget* owner, const QString& helpFile, uint16_t command, int32_t data);
// The viewer WinHelp uses; nullptr before the first command.
HelpWindow* helpWindow();

// The application's help handling: the help file and a hook that sees every help request first.
// The hook answers whether it handled the request and clears CallHelp when the normal handling
// must not run.
using THelpEvent = std::function<bool(uint16_t Command, int32_t Data, bool& CallHelp)>;
void setApplicationHelpFile(const QString& helpFile);
QString applicationHelpFile();
void setApplicationHelpHook(THelpEvent hook);
// A help request of the application: the hook first, then (when CallHelp stays true) WinHelp on
// the application's help file for `owner`.
bool HelpCommand(QWidget* owner, uint16_t command, int32_t data);
