// QDXCapture: the screen recorder. Loads the settings, makes sure it is the only recorder of the
// user's session on this display (a later one hands its command line to it and ends), and runs
// its one window until that window is closed.

#include "platform/core/AppFolder.h"
#include "platform/vfwdialog/CompressorDialog.h"
#include "recorder/SingleInstance.h"
#include "recorder/TFormPrincipalCapture.h"
#include "recorder/TerminationSignals.h"
#include "shared/Configuracoes.h"
#include "ui/QtPrompts.h"
#include "ui/QuadrixApplication.h"

int main(int argc, char** argv) {
    IniciarConfiguracoes();

    qdx::ui::QuadrixApplication app(argc, argv);
    app.setApplicationName(qdx::applicationTitle());
    app.setApplicationDisplayName(qdx::applicationTitle());
    app.setDesktopFileName(QStringLiteral("qdxcapture"));
    // A tool window does not count as a last window for Qt: without this, closing the first
    // message box would end the program. Closing the recorder window ends it (FormClose).
    app.setQuitOnLastWindowClosed(false);
    const QStringList arguments = app.arguments().mid(1);

    qdx::ui::QtPrompts prompts;
    prompts.install();

    // Two recorders would count films from 1 each and write the same film at once. A recorder
    // that does not answer is named in a message box: this program is started detached, and
    // nobody reads its standard error.
    SingleInstance instance(SingleInstance::sessionFolder(), SingleInstance::sessionKey());
    switch (instance.claim(arguments)) {
    case SingleInstance::Claim::Primary:
        break;
    case SingleInstance::Claim::HandedOver:
        return 0;
    case SingleInstance::Claim::Unanswered:
        return 1;
    }

    TFormPrincipalCapture form(arguments);
    QObject::connect(&instance, &SingleInstance::commandReceived, &form,
                     qdx::ui::guarded(&form, [&form](const QStringList& received) {
                         form.ComandoRecebido(received);
                     }));
    // Ended from outside (the session closing, Ctrl+C): closed as by its close box, which keeps a
    // running recording.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &form,
                     [&form] { form.close(); });
    // Compression after a stop asks for its compressor in the compressor dialog.
    auto* compressorDialog = new qdx::vfw::CompressorDialog(&form);
    qdx::vfw::setCompressorChooser(compressorDialog);
    form.show();
    const int result = app.exec();
    qdx::vfw::setCompressorChooser(nullptr);
    return result;
}
