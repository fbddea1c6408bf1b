#pragma once

#include "platform/core/Prompts.h"

#include <QFileDialog>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace qdx::ui {

// The programs' prompts on screen: message boxes captioned as asked, with the information, error or
// question icon, and Qt's file dialogs with the bar-separated filters converted to Qt's form. Each
// dialog is modal to the window that is active when it is asked for.
class QtPrompts : public Prompts {
public:
    QtPrompts() = default;
    ~QtPrompts() override;
    QtPrompts(const QtPrompts&) = delete;
    QtPrompts& operator=(const QtPrompts&) = delete;

    // Installs itself as the program's prompts; the previous ones come back on destruction.
    void install();

    void information(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override;
    bool question(const QString& caption, const QString& text) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    std::optional<QString> chooseFolder(const QString& title, const QString& start) override;
    bool onScreen() const override { return true; }
    std::optional<QStringList> openFiles(const FileDialogRequest& request) override;

private:
    bool m_installed = false;
    Prompts* m_previous = nullptr;
};

// The window a dialog belongs to: the active window, else the first visible top-level window.
QWidget* dialogParent();

// The file dialog a request asks for, not yet shown. With `picturePreview` it is Qt's own dialog
// with a preview beside the list (a label named "PicturePreview") that shows the picture file the
// user points at, scaled to fit.
std::unique_ptr<QFileDialog> fileDialogFor(const FileDialogRequest& request, bool save);

} // namespace qdx::ui
