#include "ui/HelpWindow.h"

#include "platform/core/AppFolder.h"
#include "shared/Mensagens.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(qdx::applicationTitle() + QStringLiteral(" - Help"));
    resize(640, 520);
    m_browser = new QTextBrowser(this);
    m_browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
}

bool HelpWindow::load(const QString& helpFile) {
    if (helpFile == m_file && !m_browser->document()->isEmpty())
        return true;
    const QFileInfo info(helpFile);
    if (!info.isFile() || !info.isReadable())
        return false;
    m_browser->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    if (m_browser->document()->isEmpty())
        return false;
    m_file = helpFile;
    return true;
}

bool HelpWindow::ShowContents(const QString& helpFile) {
    if (!load(helpFile))
        return false;
    m_anchor.clear();
    m_browser->moveCursor(QTextCursor::Start);
    m_browser->verticalScrollBar()->setValue(0);
    show();
    raise();
    activateWindow();
    return true;
}

bool HelpWindow::ShowContext(const QString& helpFile, int32_t context) {
    if (!load(helpFile))
        return false;
    const QString anchor = QStringLiteral("context-") + QString::number(context);
    if (m_browser->toHtml().contains(QLatin1String("\"") + anchor + QLatin1String("\""))) {
        m_anchor = anchor;
        m_browser->scrollToAnchor(anchor);
    } else {
        m_anchor.clear();
        m_browser->verticalScrollBar()->setValue(0);
    }
    show();
    raise();
    activateWindow();
    return true;
}

namespace {

QPointer<HelpWindow> viewer;
QString appHelpFile;
THelpEvent appHelpHook;

} // namespace

HelpWindow* helpWindow() {
    return viewer.data();
}

bool WinHelp(QWidget* owner, const QString& helpFile, uint16_t command, int32_t data) {
    if (command == HELP_QUIT) {
        if (viewer)
            viewer->close();
        return true;
    }
    if (!viewer)
        viewer = new HelpWindow(owner ? owner->window() : nullptr);
    bool shown = false;
    switch (command) {
    case HELP_CONTEXT:
    case HELP_CONTEXTPOPUP:
        shown = viewer->ShowContext(helpFile, data);
        break;
    default:
        shown = viewer->ShowContents(helpFile);
        break;
    }
    if (!shown)
        MensagemErro(QStringLiteral("Cannot open the help file %1.").arg(helpFile));
    return shown;
}

void setApplicationHelpFile(const QString& helpFile) {
    appHelpFile = helpFile;
}

QString applicationHelpFile() {
    return appHelpFile;
}

void setApplicationHelpHook(THelpEvent hook) {
    appHelpHook = std::move(hook);
}

bool HelpCommand(QWidget* owner, uint16_t command, int32_t data) {
    bool callHelp = true;
    bool result = false;
    if (appHelpHook)
        result = appHelpHook(command, data, callHelp);
    if (callHelp)
        result = WinHelp(owner, appHelpFile, command, data);
    return result;
}
