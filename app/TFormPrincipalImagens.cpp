// Screen capture, icon extraction and picture files opened into picture windows.

#include "app/IconeArquivo.h"
#include "app/TFormImagem.h"
#include "app/TFormPrincipal.h"
#include "platform/core/AppFolder.h"
#include "platform/core/Exception.h"
#include "platform/x11/ScreenGrabber.h"
#include "platform/x11/X11Error.h"
#include "shared/ArquivosImagem.h"
#include "shared/Configuracoes.h"
#include "shared/CopiaTela.h"
#include "shared/Mensagens.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRegularExpression>

void TFormPrincipal::SetScreenSource(std::shared_ptr<qdx::x11::ScreenSource> source) {
    m_screen = std::move(source);
    m_screenFixed = true;
}

std::unique_ptr<TBitmap> TFormPrincipal::CopiarTela() {
    try {
        if (!m_screen && !m_screenFixed) {
            // One grabber while it works: its connection and shared memory are reused by every
            // capture. A plain copy of the screen: the pointer is not drawn in.
            m_screen =
                std::make_shared<qdx::x11::ScreenGrabber>(qdx::x11::ScreenGrabber::Pointer::Left);
        }
    } catch (const std::exception&) {
        return nullptr; // no X server now; the next capture tries again
    }
    if (!m_screen)
        return nullptr;
    std::unique_ptr<TBitmap> copy = ::CopiarTela(*m_screen);
    // A grabber whose copy failed (its server went away) is made anew at the next capture.
    if (!copy && !m_screenFixed)
        m_screen.reset();
    return copy;
}

void TFormPrincipal::NomearJanela(QWidget* window, const QString& name) {
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!identifier.match(name).hasMatch())
        throw qdx::Exception(QStringLiteral("'%1' is not a valid component name.").arg(name));
    QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QMdiSubWindow* child : MdiArea->subWindowList())
        windows.append(child);
    for (const QWidget* other : windows)
        if (other != window && other->objectName().compare(name, Qt::CaseInsensitive) == 0)
            throw qdx::Exception(QStringLiteral("A component named %1 already exists.").arg(name));
    window->setObjectName(name);
}

void TFormPrincipal::CapturarTela() {
    std::unique_ptr<TBitmap> copy = CopiarTela();
    // A failed copy gives an empty picture, and the capture goes on with it.
    criarJanelaCaptura(copy ? *copy : TBitmap());
}

void TFormPrincipal::criarJanelaCaptura(const TBitmap& picture) {
    QString nome = nome_arquivo_padrao;
    const qsizetype marker = nome.indexOf(QLatin1String("%1"));
    if (marker >= 0)
        nome.replace(marker, 2, QString::number(ContadorImagens));

    // An empty folder setting would put pictures at the root of the file system: the
    // application folder is taken instead.
    QString pasta = caminho_padrao.isEmpty() ? qdx::applicationFolder() : caminho_padrao;
    if (!pasta.endsWith(QLatin1Char('/')))
        pasta += QLatin1Char('/');

    auto* form = new TFormImagem;
    MdiArea->addSubWindow(form);
    form->SetPicture(picture);
    form->show();
    ++ContadorImagens;

    QString caption = nome;
    if (salvar_automaticamente) {
        const QString target = pasta + nome + tipo_arquivo_padrao.mid(1);
        static const QStringList kTypes = {QStringLiteral("*.bmp"), QStringLiteral("*.gif"),
                                           QStringLiteral("*.jpg"), QStringLiteral("*.wmf")};
        if (kTypes.contains(tipo_arquivo_padrao))
            SalvarImagem(form->Imagem->Picture(), target);
        caption = target;
    }

    NomearJanela(form, nome + QString::number(ContadorJanelas));
    ++ContadorJanelas;
    form->setWindowTitle(caption);
    MdiArea->setActiveSubWindow(form);
    form->raise();
}

void TFormPrincipal::ExtrairIcone(const QString& path) {
    const TBitmap icon = IconeAssociado(path);
    SalvarImagem(icon, QDir::current().absoluteFilePath(QStringLiteral("icon.bmp")));
    criarJanelaCaptura(icon);
}

void TFormPrincipal::AbrirImagem(const QString& path) {
    if (!QFileInfo(path).isFile())
        return;
    if (!ExtensaoImagemValida(path))
        return;
    auto* form = new TFormImagem;
    MdiArea->addSubWindow(form);
    form->show();
    // A picture that cannot be read leaves the new, empty window open and reaches the error route.
    form->SetPicture(CarregarImagem(path));
    form->setWindowTitle(path);
    MdiArea->setActiveSubWindow(form);
    form->raise();
    try {
        NomearJanela(form, QStringLiteral("Image") + QString::number(ContadorJanelas));
    } catch (const qdx::Exception&) {
        MensagemErro(QStringLiteral("This archive already is opened!"));
        form->close();
        return;
    }
    ++ContadorJanelas;
}
