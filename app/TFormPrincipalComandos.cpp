// The commands of the main window: menus, tool bar, tray menu and hot keys.

#include "app/TFormExplorer.h"
#include "app/TFormImagem.h"
#include "app/TFormPrincipal.h"
#include "app/TSplashF.h"
#include "avi/TAviCapture.h"
#include "dialogs/TFormConfiguracao.h"
#include "dialogs/TFormErro.h"
#include "editor/TFormJoin.h"
#include "editor/TFormSplit.h"
#include "platform/core/AppFolder.h"
#include "shared/ArquivosImagem.h"
#include "shared/ConfiguracoesVideo.h"
#include "shared/Mensagens.h"
#include "ui/HelpWindow.h"
#include "ui/PictureSource.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProcess>
#include <QProgressBar>
#include <QToolBar>

#include "ui/TStatusBar.h"

void TFormPrincipal::AbrirClick(QObject*) {
    const std::optional<QString> path = qdx::prompts().openFile(OpenPictureDialog);
    if (path)
        AbrirImagem(*path);
}

PictureSource* TFormPrincipal::SourceOf(QMdiSubWindow* window) {
    if (!window)
        return nullptr;
    if (auto* source = dynamic_cast<PictureSource*>(window))
        return source;
    return dynamic_cast<PictureSource*>(window->widget());
}

void TFormPrincipal::SalvarClick(QObject* Sender) {
    QMdiSubWindow* child = MdiArea->currentSubWindow();
    if (!child) {
        SalvarcomoClick(Sender);
        return;
    }
    const QString caption = child->windowTitle();
    if (!QFileInfo(caption).isFile()) {
        SalvarcomoClick(Sender);
        return;
    }
    PictureSource* source = SourceOf(child);
    if (!source)
        return;
    if (!ExtensaoImagemValida(caption))
        return;
    const TBitmap* picture = source->SourcePicture();
    if (!picture)
        return;
    SalvarImagem(*picture, caption);
}

void TFormPrincipal::SalvarcomoClick(QObject*) {
    SavePictureDialog.fileName.clear();
    QMdiSubWindow* child = MdiArea->currentSubWindow();
    if (!child)
        return;
    const std::optional<QString> name = qdx::prompts().saveFile(SavePictureDialog);
    if (!name)
        return;
    PictureSource* source = SourceOf(child);
    if (!source)
        return;
    const TBitmap* picture = source->SourcePicture();
    if (!picture)
        return;
    if (!ExtensaoImagemValida(*name))
        return;
    SalvarImagem(*picture, *name);
    if (source->TakesSavedName())
        child->setWindowTitle(*name);
    else
        AbrirImagem(*name);
}

void TFormPrincipal::Visualizarimagens1Click(QObject*) {
    // A new browser every time: several can be open, each with its own list and worker.
    auto* form = new TFormExplorer;
    MdiArea->addSubWindow(form);
    form->showMaximized();
    MdiArea->setActiveSubWindow(form);
}

void TFormPrincipal::CapturartelaClick(QObject*) {
    CapturarTela();
}

void TFormPrincipal::CapturarTelaPopupClick(QObject*) {
    CapturarTela();
}

void TFormPrincipal::Extraircone1Click(QObject*) {
    const std::optional<QString> path = qdx::prompts().openFile(OpenDialogIcone);
    if (path && QFileInfo::exists(*path))
        ExtrairIcone(*path);
}

void TFormPrincipal::SairClick(QObject*) {
    // Ends the program without the close steps: the skin is not stored and the temporary files
    // stay until the next start.
    QCoreApplication::processEvents();
    QCoreApplication::exit(0);
}

void TFormPrincipal::ExitApplication1Click(QObject* Sender) {
    SairClick(Sender);
}

QString TFormPrincipal::ProgramaGravador() {
    return qdx::programFolder() + QStringLiteral("QDXCapture");
}

void TFormPrincipal::IniciarGravador(const QStringList& arguments) {
    // Started on its own, not waited for; a missing program is not reported.
    QProcess::startDetached(ProgramaGravador(), arguments, QString());
}

void TFormPrincipal::CriarVideo1Click(QObject*) {
    IniciarGravador({});
}

void TFormPrincipal::Criarvideo2Click(QObject*) {
    IniciarGravador({});
}

void TFormPrincipal::Comprimir1Click(QObject*) {
    AplicarConfiguracoesVideo(*AviCapture);
    OpenDialogVideo.title = QStringLiteral("Select the archive to compress.");
    const std::optional<QString> source = qdx::prompts().openFile(OpenDialogVideo);
    if (!source)
        return;
    SaveDialogVideo.title = QStringLiteral("Select the file name to destination.");
    const std::optional<QString> target = qdx::prompts().saveFile(SaveDialogVideo);
    if (!target)
        return;
    if (!QFileInfo(*source).isFile())
        return;
    struct ResetProgress {
        TFormPrincipal* form;
        ~ResetProgress() {
            form->ProgressBarCompactar->setValue(0);
            form->StatusBar->repaint();
        }
    } reset{this};
    if (AviCapture->CompressFile(*source, *target) && QFileInfo::exists(*target))
        MensagemInformacao(QStringLiteral("File compress successfully!"));
}

void TFormPrincipal::MostrarJanelaFilme(QMdiSubWindow* window) {
    MdiArea->addSubWindow(window);
    // Opens centred in the client area.
    const QSize area = MdiArea->viewport()->size();
    window->move(std::max(0, (area.width() - window->width()) / 2),
                 std::max(0, (area.height() - window->height()) / 2));
    window->show();
    MdiArea->setActiveSubWindow(window);
}

void TFormPrincipal::AviSplit1Click(QObject*) {
    MostrarJanelaFilme(new TFormSplit(this));
}

QString TFormPrincipal::StatusText(int panel) const {
    return panel < StatusBar->PanelCount() ? StatusBar->Panel(panel).Text : QString();
}

void TFormPrincipal::SetStatusText(int panel, const QString& text) {
    if (panel < StatusBar->PanelCount())
        StatusBar->SetPanelText(panel, text);
}

void TFormPrincipal::SaveShownFrame(QMdiSubWindow* window) {
    if (window)
        MdiArea->setActiveSubWindow(window);
    SalvarClick(window);
}

void TFormPrincipal::ToolsJoin1Click(QObject*) {
    MostrarJanelaFilme(new TFormJoin(this));
}

TJanelaPrincipal TFormPrincipal::PecasConfiguracao() {
    TJanelaPrincipal pieces;
    pieces.HotKeyManager = HotKeyManager;
    pieces.IdHotKeyCaptura = &IdHotKeyCaptura;
    pieces.Capturartela = Capturartela;
    pieces.CapturarTelaPopup = CapturarTelaPopup;
    pieces.TimerBanner = TimerBanner;
    pieces.ToolBarBanner = ToolBarBanner;
    return pieces;
}

void TFormPrincipal::ConfiguracaoClick(QObject*) {
    // Every opening starts anew from the program-wide settings.
    TFormConfiguracao dialog(this, PecasConfiguracao());
    dialog.exec();
}

void TFormPrincipal::Configuraes2Click(QObject*) {
    Configuracao->trigger();
}

void TFormPrincipal::ToolButton19Click(QObject* Sender) {
    ConfiguracaoClick(Sender);
}

void TFormPrincipal::SobreoQuadrix1Click(QObject*) {
    TSplashF about(TSplashF::Mode::About, this);
    about.exec();
}

void TFormPrincipal::Faleconosco1Click(QObject*) {
    AbrirContato(this);
}

void TFormPrincipal::AjudadoQuadrix1Click(QObject*) {
    // A child window with a help topic of its own (the split and join windows) opens it; any
    // other opens the contents.
    const QMdiSubWindow* active = MdiArea->activeSubWindow();
    const int context = active ? active->property("HelpContext").toInt() : 0;
    if (context > 0)
        WinHelp(this, HelpFile, HELP_CONTEXT, context);
    else
        WinHelp(this, HelpFile, HELP_CONTENTS, 0);
}

void TFormPrincipal::HotKeyManagerHotKeyPressed(uint16_t, uint16_t Index) {
    // Bringing the application forward does not show a window hidden in the tray.
    if (isVisible() && !(windowState() & Qt::WindowMinimized))
        activateWindow();
    if (Index != 0 && Index == IdHotKeyCaptura)
        CapturarTela();
}

void TFormPrincipal::HotKeyManagerVideoHotKeyPressed(uint16_t, uint16_t Index) {
    if (isVisible() && !(windowState() & Qt::WindowMinimized))
        activateWindow();
    if (Index != 0 && Index == IdHotKeyVideo)
        IniciarGravador({QStringLiteral("play")});
}

void TFormPrincipal::ArrangeIcons() {
    // Minimised child windows line up along the bottom of the area, left to right.
    int x = 0;
    const int bottom = MdiArea->viewport()->height();
    for (QMdiSubWindow* child : MdiArea->subWindowList(QMdiArea::CreationOrder)) {
        if (!child->isMinimized())
            continue;
        const QSize size = child->size();
        if (x > 0 && x + size.width() > MdiArea->viewport()->width())
            x = 0;
        child->move(x, bottom - size.height());
        x += size.width();
    }
}

void TFormPrincipal::TileChildren(Qt::Orientation orientation) {
    QList<QMdiSubWindow*> children;
    for (QMdiSubWindow* child : MdiArea->subWindowList(QMdiArea::CreationOrder))
        if (!child->isMinimized() && child->isVisible())
            children.append(child);
    if (children.isEmpty())
        return;
    const QRect area = MdiArea->viewport()->rect();
    const int n = int(children.size());
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow* child = children[i];
        if (child->isMaximized())
            child->showNormal();
        if (orientation == Qt::Vertical) {
            // One above the other, each as wide as the area.
            const int top = area.height() * i / n;
            const int next = area.height() * (i + 1) / n;
            child->setGeometry(0, top, area.width(), next - top);
        } else {
            // Side by side, each as high as the area.
            const int left = area.width() * i / n;
            const int next = area.width() * (i + 1) / n;
            child->setGeometry(left, 0, next - left, area.height());
        }
    }
}
