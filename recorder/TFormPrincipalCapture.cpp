#include "recorder/TFormPrincipalCapture.h"

#include "avi/TAviCapture.h"
#include "platform/core/AppFolder.h"
#include "platform/core/WorkFileLock.h"
#include "platform/vfw/CompressorChooser.h"
#include "platform/vfw/StreamCopy.h"
#include "recorder/MoverArquivo.h"
#include "shared/Configuracoes.h"
#include "shared/ConfiguracoesVideo.h"
#include "shared/Mensagens.h"
#include "shared/ShortcutText.h"
#include "shared/SoftwareKey.h"
#include "ui/ApagarTemporarios.h"
#include "ui/ErrorRoute.h"
#include "ui/HelpWindow.h"
#include "ui/THotKeyManager.h"
#include "ui/WindowSystem.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>
#include <thread>

namespace {

constexpr const char* kSkinValue = "SKIN_SELECIONADA";

// The client area of the 65 x 58 tool window once the window manager has added its frame and
// caption: three 17 x 17 buttons in a row and the 13-pixel progress bar along the bottom.
constexpr int kClientWidth = 57;
constexpr int kClientHeight = 35;
constexpr int kButton = 17;
constexpr int kBarHeight = 13;

enum class Figura { Gravar, Pausar, Parar };

// The buttons' icons, drawn so that they read at 17 pixels: a red disc, two bars, a square.
QIcon iconeBotao(Figura figura) {
    QIcon icon;
    for (const bool enabled : {true, false}) {
        QPixmap pixmap(12, 12);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        switch (figura) {
        case Figura::Gravar:
            painter.setBrush(enabled ? QColor(0xd0, 0x10, 0x10) : QColor(0xb0, 0xa0, 0xa0));
            painter.drawEllipse(QRectF(1, 1, 10, 10));
            break;
        case Figura::Pausar:
            painter.setBrush(enabled ? QColor(0x20, 0x20, 0x20) : QColor(0xa8, 0xa8, 0xa8));
            painter.drawRect(QRectF(2, 1, 3, 10));
            painter.drawRect(QRectF(7, 1, 3, 10));
            break;
        case Figura::Parar:
            painter.setBrush(enabled ? QColor(0x20, 0x20, 0x20) : QColor(0xa8, 0xa8, 0xa8));
            painter.drawRect(QRectF(1.5, 1.5, 9, 9));
            break;
        }
        painter.end();
        icon.addPixmap(pixmap, enabled ? QIcon::Normal : QIcon::Disabled);
    }
    return icon;
}

QToolButton* botao(QWidget* parent, const char* name, const QString& hint, Figura figura, int x) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    button->setIcon(iconeBotao(figura));
    button->setIconSize(QSize(12, 12));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(x, 1, kButton, kButton);
    button->setEnabled(false);
    return button;
}

// Watches the compressor choice of one compression: whether the user cancelled the dialog, which
// the engine's answer (false) does not tell apart from a failure. Installed for its lifetime in
// front of the program's chooser.
class EscolhaObservada : public qdx::vfw::CompressorChooser {
public:
    EscolhaObservada() : m_inner(qdx::vfw::setCompressorChooser(this)) {}
    ~EscolhaObservada() override { qdx::vfw::setCompressorChooser(m_inner); }
    EscolhaObservada(const EscolhaObservada&) = delete;
    EscolhaObservada& operator=(const EscolhaObservada&) = delete;

    bool choose(UINT flags, int streamCount, qdx::vfw::AviStream** streams,
                AVICOMPRESSOPTIONS** options) override {
        qdx::vfw::CompressorChooser* chooser = m_inner ? m_inner : &m_default;
        // A recording is compressed, never copied: the recorder does not offer direct stream
        // copy (its frames are uncompressed already).
        const qdx::vfw::StreamCopyOffer withdrawn(false);
        const bool chosen = chooser->choose(flags, streamCount, streams, options);
        m_cancelled = m_cancelled || !chosen;
        return chosen;
    }
    bool cancelled() const { return m_cancelled; }

private:
    qdx::vfw::CompressorChooser* m_inner;
    qdx::vfw::PresetCompressorChooser m_default;
    bool m_cancelled = false;
};

} // namespace

TFormPrincipalCapture::TFormPrincipalCapture(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                              Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FormPrincipalCapture"));
    setWindowTitle(qdx::applicationTitle());
    resize(kClientWidth, kClientHeight);
    // The client area: the row of buttons at the top, the bar along the bottom edge.
    auto* area = new QWidget(this);
    setCentralWidget(area);
    auto* buttons = new QWidget(area);
    buttons->setFixedHeight(kButton + 2);

    SpeedButtonGravar =
        botao(buttons, "SpeedButtonGravar", QStringLiteral("Record"), Figura::Gravar, 1);
    SpeedButtonPause =
        botao(buttons, "SpeedButtonPause", QStringLiteral("Pause"), Figura::Pausar, 20);
    SpeedButtonStop = botao(buttons, "SpeedButtonStop", QStringLiteral("Stop"), Figura::Parar, 39);

    ProgressBarCompressao = new QProgressBar(area);
    ProgressBarCompressao->setObjectName(QStringLiteral("ProgressBarCompressao"));
    ProgressBarCompressao->setAccessibleName(QStringLiteral("Compression progress"));
    ProgressBarCompressao->setRange(0, 100);
    ProgressBarCompressao->setValue(0);
    ProgressBarCompressao->setTextVisible(false);
    ProgressBarCompressao->setFixedHeight(kBarHeight);
    ProgressBarCompressao->setMinimumWidth(1); // not the width of a style's bar with its text
    buttons->setMinimumWidth(3 * kButton + 5);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buttons);
    layout->addStretch(1);
    layout->addWidget(ProgressBarCompressao);
    // Drawn smooth: a continuous bar, not blocks.
    ProgressBarCompressao->setStyleSheet(
        QStringLiteral("QProgressBar { border: 1px solid palette(mid); background: palette(base); }"
                       "QProgressBar::chunk { background: palette(highlight); }"));

    AviCapture = new TAviCapture(this);
    AviCapture->setObjectName(QStringLiteral("AviCapture"));
    AviCapture->TipoCaptura = tcTela;
    AviCapture->Scale = 1;
    HotKeyManagerVideo = new THotKeyManager(this);
    HotKeyManagerVideo->setObjectName(QStringLiteral("HotKeyManagerVideo"));

    SaveDialogVideo.title = QStringLiteral("Digite o nome do Vídeo.");
    SaveDialogVideo.filter = QStringLiteral("Arquivo de vídeo (*.avi)|*.avi");
    SaveDialogVideo.defaultSuffix = QStringLiteral("avi");

    AbrirArquivo = [](const QString& film) {
        QProcess::startDetached(QStringLiteral("xdg-open"), {film});
    };

    // Buttons and hot key run on this thread; what they throw reaches the error box.
    connect(SpeedButtonGravar, &QToolButton::clicked, this,
            qdx::ui::guarded(this, [this] { SpeedButtonGravarClick(); }));
    connect(SpeedButtonPause, &QToolButton::clicked, this,
            qdx::ui::guarded(this, [this] { SpeedButtonPauseClick(); }));
    connect(SpeedButtonStop, &QToolButton::clicked, this,
            qdx::ui::guarded(this, [this] { SpeedButtonStopClick(); }));
    HotKeyManagerVideo->OnHotKeyPressed =
        qdx::ui::guarded(this, [this](uint16_t hotKey, uint16_t index) {
            HotKeyManagerVideoHotKeyPressed(hotKey, index);
        });
    // The engine's recording events come from its thread.
    AviCapture->OnCapturing = [this](int length, TAviCapture* sender) {
        AviCaptureCapturing(length, sender);
    };
    AviCapture->OnStop = [this](bool resultao) {
        AviCaptureStop(resultao);
    };
    AviCapture->OnRecordingError = [this](const QString& message) {
        AviCaptureRecordingError(message);
    };
    AviCapture->OnProgress = [this](int i, TAviCapture* sender, bool& abort) {
        AviCaptureProgress(i, sender, abort);
    };
    AviCapture->OnExtractFramesProgress = [this](int max, int min, int value, TAviCapture* sender,
                                                 bool& abort) {
        AviCaptureExtractFramesProgress(max, min, value, sender, abort);
    };

    FormCreate(arguments);
}

TFormPrincipalCapture::~TFormPrincipalCapture() {
    // The engine goes first, while the window its events talk to is still whole: a running
    // recording is stopped and its film closed.
    delete AviCapture;
    AviCapture = nullptr;
}

void TFormPrincipalCapture::FormCreate(const QStringList& arguments) {
    const uint16_t videoKey = TextToShortCut(comando_captura_video);
    IdHotKeyVideo = videoKey ? HotKeyManagerVideo->RegisterShortCut(videoKey) : 0;
    IndiceSkin = LerChaveSoftware(qdx::applicationTitle(), QString::fromLatin1(kSkinValue),
                                  TTipoChave::tcInteiro, 0)
                     .toInt();
    resize(kClientWidth, height());
    HelpFile = qdx::dataFolder() + QStringLiteral("Quadrix.html");
    setApplicationHelpFile(HelpFile);
    // The colour depth is taken here only, once per run; rate and compression again at every
    // recording.
    AplicarConfiguracoesVideo(*AviCapture);
    aplicarSkin();
    definirEstado(TEstado::Idle);
    if (arguments == QStringList{QStringLiteral("play")}) {
        // Once set-up is done, the clean-up below included: a work film of this recording is
        // then never among the files it removes.
        QTimer::singleShot(0, this, qdx::ui::guarded(this, [this] { SpeedButtonGravarClick(); }));
    }
    ApagarTemporarios();
}

void TFormPrincipalCapture::aplicarSkin() {
    try {
        sd1.AplicarIndice(SkinStore1, IndiceSkin);
    } catch (...) {
        // A skin that cannot be applied leaves the plain look.
    }
}

void TFormPrincipalCapture::definirEstado(TEstado estado) {
    m_estado = estado;
    SpeedButtonGravar->setEnabled(estado == TEstado::Idle || estado == TEstado::Paused);
    SpeedButtonPause->setEnabled(estado == TEstado::Running);
    SpeedButtonStop->setEnabled(estado == TEstado::Running || estado == TEstado::Paused);
}

QString TFormPrincipalCapture::NomeVideoAutomatico(const QString& pasta, const QString& padrao,
                                                   int contador, const QString& tipo) {
    QString folder = pasta;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    QString name = padrao;
    const qsizetype at = name.indexOf(QLatin1String("%1"), 0, Qt::CaseSensitive);
    if (at >= 0)
        name.replace(at, 2, QString::number(contador));
    return folder + name + tipo.mid(1);
}

QString TFormPrincipalCapture::TextoDuracao(int LengthTime) {
    // The length as a time of day: hours are not shown.
    const qint64 seconds = qMax(0, LengthTime) / 1000;
    return QStringLiteral("%1:%2")
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString TFormPrincipalCapture::NomeResgate(const QString& fileName) {
    QString base = QFileInfo(fileName).completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("Video");
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString stem = qdx::applicationFolder() + base + QLatin1Char('-') + stamp;
    QString name = stem + QStringLiteral(".avi");
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = stem + QLatin1Char('-') + QString::number(n) + QStringLiteral(".avi");
    return name;
}

std::optional<QString> TFormPrincipalCapture::pedirNomeVideo() {
    while (true) {
        const std::optional<QString> chosen = qdx::prompts().saveFile(SaveDialogVideo);
        if (!chosen || chosen->isEmpty())
            return std::nullopt;
        // Proposed again next time in this run.
        SaveDialogVideo.fileName = *chosen;
        if (!QFileInfo::exists(*chosen) || perguntarSubstituir(*chosen))
            return chosen;
    }
}

bool TFormPrincipalCapture::perguntarSubstituir(const QString& film) {
    return qdx::prompts().question(
        SaveDialogVideo.title,
        QStringLiteral("%1 already exists.\rDo you want to replace it?").arg(film));
}

void TFormPrincipalCapture::SpeedButtonGravarClick() {
    if (m_estado == TEstado::Paused) {
        AviCapture->ResumeRecording();
        definirEstado(TEstado::Running);
        return;
    }
    // A name dialog already open (a hot key or a later QDXCapture during it) does not open
    // another.
    if (m_estado != TEstado::Idle || m_pedindoNome)
        return;
    CarregarConfiguracoes();
    if (numero_quadros_por_milisegundo < 1) {
        MensagemErro(QStringLiteral("The frame rate in %1 (numero_quadros_por_milisegundo = %2) "
                                    "must be at least 1 frame per second.")
                         .arg(ArquivoConfiguracoes())
                         .arg(numero_quadros_por_milisegundo));
        return;
    }
    AviCapture->PermitirCompactacao = compactar_video;
    AplicarCompactacaoGravacao(*AviCapture);
    AviCapture->Rate = numero_quadros_por_milisegundo;
    // An empty folder read from a hand-edited file means the application folder, not the root.
    const QString pasta =
        caminho_video_padrao.isEmpty() ? qdx::applicationFolder() : caminho_video_padrao;
    // The counter starts at 1 in every run: names of films that exist (an earlier run's) are
    // skipped, never written over.
    QString automatico;
    do {
        automatico = NomeVideoAutomatico(pasta, nome_arquivo_video_padrao, ContadorVideos,
                                         tipo_arquivo_video_padrao);
        ++ContadorVideos;
    } while (nome_arquivo_video_padrao.contains(QLatin1String("%1")) &&
             QFileInfo::exists(automatico) && ContadorVideos < INT32_MAX);
    QString nome = automatico;
    // A pattern without a counter names one film: it is replaced only when the user says so, or
    // the name dialog offers another.
    if (!salvar_automaticamente_video || QFileInfo::exists(automatico)) {
        m_pedindoNome = true;
        std::optional<QString> chosen = automatico;
        if (!salvar_automaticamente_video || !perguntarSubstituir(automatico)) {
            if (salvar_automaticamente_video)
                SaveDialogVideo.fileName = automatico;
            chosen = pedirNomeVideo();
        }
        m_pedindoNome = false;
        if (!chosen)
            return;
        nome = *chosen;
    }
    AviCapture->FileName = nome;
    m_resultadoStop = -1;
    AviCapture->StartRecording();
    definirEstado(TEstado::Running);
}

void TFormPrincipalCapture::SpeedButtonPauseClick() {
    if (m_estado != TEstado::Running || !AviCapture->Recording())
        return;
    SpeedButtonGravar->setEnabled(true);
    SpeedButtonStop->setEnabled(true);
    SpeedButtonPause->setEnabled(false);
    AviCapture->PauseRecording();
    m_estado = TEstado::Paused;
}

void TFormPrincipalCapture::pararGravacao() {
    // StopRecording waits for the recording thread; this thread meanwhile carries out what the
    // recording thread hands it (the caption of the frames written during the stop).
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread waiter([&] {
        try {
            AviCapture->StopRecording();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    waiter.join();
    // Captions still on their way would overwrite what the stop shows next.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (failure)
        std::rethrow_exception(failure);
}

void TFormPrincipalCapture::SpeedButtonStopClick() {
    if (m_estado != TEstado::Running && m_estado != TEstado::Paused)
        return;
    definirEstado(TEstado::Stopping);
    bool perguntar = false;
    try {
        pararGravacao();
        setWindowTitle(QStringLiteral("Q-D-X"));
        ProgressBarCompressao->setRange(0, 100);
        ProgressBarCompressao->setValue(0);
        perguntar = concluirGravacao();
    } catch (...) {
        definirEstado(TEstado::Idle);
        throw;
    }
    definirEstado(TEstado::Idle);
    if (m_fecharAoTerminar) {
        // Closing was asked for during the stop: the film is in place, the window goes.
        close();
        return;
    }
    if (!perguntar)
        return;
    const QString question = QStringLiteral("Arquivo gerado:\r") + AviCapture->FileName +
                             QStringLiteral("\r") +
                             QStringLiteral("Deseja visualizar o arquivo agora ?");
    if (qdx::prompts().question(QStringLiteral("Confirm"), question) && AbrirArquivo)
        AbrirArquivo(AviCapture->FileName);
}

QString TFormPrincipalCapture::guardarGravacao(const QString& gravacao, QString& erro) {
    const QString fileName = AviCapture->FileName;
    QString kept;
    QString ignored;
    if (MoverArquivo(gravacao, fileName, erro))
        kept = fileName;
    else if (const QString resgate = NomeResgate(fileName);
             MoverArquivo(gravacao, resgate, ignored))
        kept = resgate; // under its temporary name the next clean-up would delete it
    if (gravacao != AviCapture->RecordingTempFile())
        return kept;
    // The work-file lock went with the file; the film under its name is the user's, not locked.
    // A recording that stays in its work file is marked, so that no clean-up ever deletes what
    // the user is told is there, and left to the user.
    if (kept.isEmpty())
        qdx::WorkFileLock::keepRecording(gravacao);
    AviCapture->ReleaseRecordingTempFile();
    return kept;
}

bool TFormPrincipalCapture::concluirGravacao() {
    const QString fileName = AviCapture->FileName;
    // A film compressed while it was recorded is the film: no compressor dialog after Stop.
    const bool comprimir = AviCapture->recordsToWorkFile();
    const QString gravacao = comprimir ? AviCapture->RecordingTempFile() : fileName;
    const QString erroGravacao = AviCapture->RecordingError();

    if (!erroGravacao.isEmpty() || m_resultadoStop == 0) {
        // The film was never made, or it was not written to its end: say so and where it is.
        QString text = erroGravacao.isEmpty()
                           ? QStringLiteral("The recording could not be written completely "
                                            "(the disk may be full).")
                           : erroGravacao;
        if (!QFileInfo::exists(gravacao)) {
            text += QStringLiteral("\rNo film was written: %1").arg(fileName);
        } else if (comprimir) {
            QString erro;
            const QString kept = guardarGravacao(gravacao, erro);
            text += kept.isEmpty()
                        ? QStringLiteral("\rWhat was recorded is in %1 (%2).").arg(gravacao, erro)
                        : QStringLiteral("\rWhat was recorded is in %1.").arg(kept);
            if (kept.isEmpty())
                m_manterTemporarios = true;
        } else {
            text += QStringLiteral("\rWhat was recorded is in %1.").arg(gravacao);
        }
        MensagemErro(text);
        return false;
    }
    if (!comprimir)
        return true;

    bool compressed = false;
    bool cancelled = false;
    QString erroCompressao;
    {
        EscolhaObservada escolha;
        try {
            compressed = AviCapture->CompressFile(gravacao, fileName);
        } catch (const std::exception& e) {
            erroCompressao = qdx::ui::exceptionText(e);
        }
        cancelled = escolha.cancelled() && erroCompressao.isEmpty();
    }
    if (compressed) {
        // The recording goes only once the compressed film is known to hold every frame of it.
        int first = 0, last = -1, compressedFirst = 0, compressedLast = -1;
        if (AviCapture->GetFrameRange(gravacao, first, last) &&
            AviCapture->GetFrameRange(fileName, compressedFirst, compressedLast) &&
            compressedLast - compressedFirst == last - first) {
            QFile::remove(gravacao);
            AviCapture->ReleaseRecordingTempFile();
            return true;
        }
        erroCompressao = QStringLiteral("The compressed film %1 is incomplete.").arg(fileName);
    }
    // Not compressed (cancelled or failed): the recording itself goes under the name.
    QString erro;
    const QString kept = guardarGravacao(gravacao, erro);
    QString prefix = erroCompressao.isEmpty() ? QString() : erroCompressao + QLatin1Char('\r');
    if (kept != fileName) {
        QString text =
            prefix +
            QStringLiteral("The film could not be put under %1: %2.\r").arg(fileName, erro);
        text += kept.isEmpty() ? QStringLiteral("The recording is still in %1.").arg(gravacao)
                               : QStringLiteral("The recording is in %1.").arg(kept);
        if (kept.isEmpty())
            m_manterTemporarios = true;
        MensagemErro(text);
        return false;
    }
    if (!cancelled) {
        if (prefix.isEmpty())
            prefix = QStringLiteral("The film could not be compressed.\r");
        MensagemErro(prefix + QStringLiteral("The uncompressed recording is in %1.").arg(fileName));
    }
    return true;
}

void TFormPrincipalCapture::HotKeyManagerVideoHotKeyPressed(uint16_t, uint16_t Index) {
    trazerParaFrente();
    if (Index != 0 && Index == IdHotKeyVideo)
        SpeedButtonGravarClick();
}

void TFormPrincipalCapture::ComandoRecebido(const QStringList& arguments) {
    trazerParaFrente();
    if (arguments == QStringList{QStringLiteral("play")})
        SpeedButtonGravarClick();
}

void TFormPrincipalCapture::trazerParaFrente() {
    if (!isVisible())
        show();
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void TFormPrincipalCapture::AviCaptureCapturing(int LengthTime, TAviCapture*) {
    // The recording thread asks; this window's thread changes the caption.
    QMetaObject::invokeMethod(
        this, [this, LengthTime] { setWindowTitle(TextoDuracao(LengthTime)); },
        Qt::QueuedConnection);
}

void TFormPrincipalCapture::AviCaptureStop(bool Resultao) {
    m_resultadoStop = Resultao ? 1 : 0;
}

void TFormPrincipalCapture::AviCaptureRecordingError(const QString&) {
    QMetaObject::invokeMethod(this, qdx::ui::guarded(this, [this] { gravacaoFalhou(); }),
                              Qt::QueuedConnection);
}

void TFormPrincipalCapture::gravacaoFalhou() {
    // During a stop the stop itself reports it.
    if (m_estado != TEstado::Running && m_estado != TEstado::Paused)
        return;
    definirEstado(TEstado::Stopping);
    try {
        pararGravacao();
        setWindowTitle(qdx::applicationTitle());
        concluirGravacao();
    } catch (...) {
        definirEstado(TEstado::Idle);
        throw;
    }
    definirEstado(TEstado::Idle);
    if (m_fecharAoTerminar)
        close();
}

void TFormPrincipalCapture::AviCaptureProgress(int I, TAviCapture*, bool&) {
    ProgressBarCompressao->setRange(0, 100);
    ProgressBarCompressao->setValue(I);
    QCoreApplication::processEvents();
}

void TFormPrincipalCapture::AviCaptureExtractFramesProgress(int Max, int Min, int Value,
                                                            TAviCapture*, bool&) {
    try {
        ProgressBarCompressao->setMaximum(Max);
        ProgressBarCompressao->setMinimum(Min);
        ProgressBarCompressao->setValue(Value);
        QCoreApplication::processEvents();
    } catch (...) {
        // Progress is only shown.
    }
}

void TFormPrincipalCapture::showEvent(QShowEvent* event) {
    if (m_primeiraExibicao) {
        m_primeiraExibicao = false;
        qdx::ui::setSkipTaskbar(this);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QMainWindow::showEvent(event);
}

void TFormPrincipalCapture::closeEvent(QCloseEvent* event) {
    if (m_estado == TEstado::Stopping) {
        // The film is being closed or compressed: the window closes once it is in place.
        m_fecharAoTerminar = true;
        event->ignore();
        return;
    }
    try {
        FormClose();
    } catch (...) {
        qdx::ui::routeCurrentException(this);
    }
    event->accept();
    // Closing the window ends the program (a tool window alone may not count as its last window).
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
}

void TFormPrincipalCapture::FormClose() {
    if (m_estado == TEstado::Running || m_estado == TEstado::Paused) {
        // A recording still running is ended and kept under its name, uncompressed and without
        // the question: closing never throws a recording away.
        definirEstado(TEstado::Stopping);
        pararGravacao();
        if (AviCapture->recordsToWorkFile() && QFileInfo::exists(AviCapture->RecordingTempFile())) {
            QString erro;
            const QString kept = guardarGravacao(AviCapture->RecordingTempFile(), erro);
            if (kept != AviCapture->FileName)
                MensagemErro(QStringLiteral("The film could not be put under %1: %2.\r%3")
                                 .arg(AviCapture->FileName, erro,
                                      kept.isEmpty()
                                          ? QStringLiteral("The recording stays in %1.")
                                                .arg(AviCapture->RecordingTempFile())
                                          : QStringLiteral("The recording is in %1.").arg(kept)));
            if (kept.isEmpty())
                m_manterTemporarios = true;
        }
        definirEstado(TEstado::Idle);
    }
    // A recording that stays under its temporary name is not cleaned away with the rest.
    if (!m_manterTemporarios)
        ApagarTemporarios();
}
