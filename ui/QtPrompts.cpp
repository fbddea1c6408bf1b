#include "ui/QtPrompts.h"

#include "shared/ArquivosImagem.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

namespace qdx::ui {

QWidget* dialogParent() {
    if (QWidget* active = QApplication::activeWindow())
        return active;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->isWindow() && !(top->windowFlags() & Qt::Popup))
            return top;
    return nullptr;
}

QtPrompts::~QtPrompts() {
    if (m_installed)
        setPrompts(m_previous);
}

void QtPrompts::install() {
    if (!m_installed)
        m_previous = setPrompts(this);
    m_installed = true;
}

void QtPrompts::information(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, dialogParent());
    box.exec();
}

void QtPrompts::error(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, dialogParent());
    box.exec();
}

bool QtPrompts::question(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    dialogParent());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

namespace {

constexpr int kPreviewSide = 200;

// A label beside the file list that shows the picture the dialog points at.
void addPicturePreview(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    auto* preview = new QLabel(&dialog);
    preview->setObjectName(QStringLiteral("PicturePreview"));
    preview->setAccessibleName(QStringLiteral("Preview"));
    preview->setAlignment(Qt::AlignCenter);
    preview->setFixedSize(kPreviewSide, kPreviewSide);
    preview->setFrameShape(QFrame::StyledPanel);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(
        &dialog, &QFileDialog::currentChanged, preview, [preview](const QString& path) {
            preview->clear();
            if (!QFileInfo(path).isFile())
                return;
            try {
                const QImage picture = CarregarImagem(path).Image();
                preview->setPixmap(QPixmap::fromImage(picture.scaled(
                    kPreviewSide, kPreviewSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
            } catch (const std::exception&) {
                // Not a picture that can be read: the preview stays empty.
            }
        });
}

} // namespace

std::unique_ptr<QFileDialog> fileDialogFor(const FileDialogRequest& request, bool save) {
    auto dialog = std::make_unique<QFileDialog>(dialogParent(), request.title, request.directory);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save) {
        dialog->setFileMode(QFileDialog::AnyFile);
        // Replacing an existing file is the caller's decision, not the dialog's.
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    } else {
        dialog->setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    }
    dialog->setOption(QFileDialog::ReadOnly, false);
    if (request.picturePreview)
        addPicturePreview(*dialog);
    const QStringList filters = qtNameFilters(request.filter);
    if (!filters.isEmpty())
        dialog->setNameFilters(filters);
    if (!request.defaultSuffix.isEmpty())
        dialog->setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty())
        dialog->selectFile(request.fileName);
    return dialog;
}

namespace {

std::optional<QString> runFileDialog(const FileDialogRequest& request, bool save) {
    const std::unique_ptr<QFileDialog> dialog = fileDialogFor(request, save);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().constFirst();
}

} // namespace

std::optional<QStringList> QtPrompts::openFiles(const FileDialogRequest& request) {
    QFileDialog dialog(dialogParent(), request.title, request.directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    const QStringList filters = qtNameFilters(request.filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles();
}

std::optional<QString> QtPrompts::openFile(const FileDialogRequest& request) {
    return runFileDialog(request, false);
}

std::optional<QString> QtPrompts::saveFile(const FileDialogRequest& request) {
    return runFileDialog(request, true);
}

std::optional<QString> QtPrompts::chooseFolder(const QString& title, const QString& start) {
    const QString folder = QFileDialog::getExistingDirectory(dialogParent(), title, start);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

} // namespace qdx::ui
