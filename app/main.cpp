// Quadrix: the main program. Loads the settings, shows the splash window for a second, opens the
// main window with the stored skin and runs until the main window closes or an Exit command.

#include "app/TFormPrincipal.h"
#include "app/TSplashF.h"
#include "platform/core/AppFolder.h"
#include "platform/vfwdialog/CompressorDialog.h"
#include "shared/Configuracoes.h"
#include "ui/QtPrompts.h"
#include "ui/QuadrixApplication.h"

#include <QScreen>
#include <QThread>
#include <QWindow>

#include <memory>
#include <unistd.h>

namespace {

// Chromium's sandbox refuses to run as root; the banner view then runs without it.
void prepareWebEngine() {
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace

int main(int argc, char** argv) {
    IniciarConfiguracoes();
    prepareWebEngine();

    qdx::ui::QuadrixApplication app(argc, argv);
    app.setApplicationName(qdx::applicationTitle());
    // No application display name: the window system would append it to every caption
    // ("Confirm — Quadrix"), and the captions must read as the windows give them.
    app.setDesktopFileName(QStringLiteral("quadrix"));
    // The tray icon keeps the program alive while the main window is hidden; closing the main
    // window ends it explicitly.
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(TFormPrincipal::ApplicationIcon());

    qdx::ui::QtPrompts prompts;
    prompts.install();

    auto splash = std::make_unique<TSplashF>(TSplashF::Mode::StartUp);
    // The splash is on the screen before the program blocks.
    splash->ShowAndWaitForPaint(2000);
    QThread::msleep(1000);
    QCoreApplication::processEvents();

    std::unique_ptr<TFormPrincipal> form;
    try {
        form = std::make_unique<TFormPrincipal>();
        QCoreApplication::processEvents();
        form->AplicarSkinInicial();
        // Maximised: the window fills the screen's work area also when no window manager
        // maximises it.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            form->setGeometry(screen->availableGeometry());
        form->showMaximized();
    } catch (...) {
        splash.reset();
        throw;
    }
    splash.reset();

    // Film compression asks for its compressor in the compressor dialog.
    auto* compressorDialog = new qdx::vfw::CompressorDialog(form.get());
    qdx::vfw::setCompressorChooser(compressorDialog);
    const int result = app.exec();
    qdx::vfw::setCompressorChooser(nullptr);
    return result;
}
