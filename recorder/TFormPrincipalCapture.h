#pragma once

#include "platform/core/Prompts.h"
#include "ui/TSkinData.h"
#include "ui/TSkinStore.h"

#include <QMainWindow>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class QProgressBar;
class QToolButton;
class TAviCapture;
class THotKeyManager;

// The recorder window of QDXCapture: a tiny tool window on top of all others with the buttons
// Record, Pause and Stop and a progress bar. It records the screen into a film through the
// engine's recording thread, compresses the finished film when the settings ask for it, and offers
// to open it. Creating it runs FormCreate; closing it ends the program.
class TFormPrincipalCapture : public QMainWindow {
    Q_OBJECT
public:
    enum class TEstado { Idle, Running, Paused, Stopping };

    // `arguments`: the command line without the program name; exactly {"play"} starts a recording
    // once the window is set up.
    explicit TFormPrincipalCapture(const QStringList& arguments, QWidget* parent = nullptr);
    ~TFormPrincipalCapture() override;
    TFormPrincipalCapture(const TFormPrincipalCapture&) = delete;
    TFormPrincipalCapture& operator=(const TFormPrincipalCapture&) = delete;

    // Components.
    QToolButton* SpeedButtonGravar;
    QToolButton* SpeedButtonPause;
    QToolButton* SpeedButtonStop;
    QProgressBar* ProgressBarCompressao;
    TAviCapture* AviCapture;
    THotKeyManager* HotKeyManagerVideo;
    qdx::FileDialogRequest SaveDialogVideo;
    TSkinStore SkinStore1;
    TSkinData sd1;

    // Recorder state.
    uint16_t IdHotKeyVideo = 0; // 0 when the recorder hot key could not be registered
    int IndiceSkin = 0;
    QString HelpFile;
    TEstado Estado() const { return m_estado; }

    // Opens a finished film with the desktop's player (xdg-open); tests put their own in place.
    std::function<void(const QString& film)> AbrirArquivo;

    // The automatic film name: the folder (with "/" added when missing), the pattern with its first
    // "%1" replaced by the counter, and the type without its first character ("*.avi": ".avi").
    static QString NomeVideoAutomatico(const QString& pasta, const QString& padrao, int contador,
                                       const QString& tipo);
    // A film length in milliseconds as the caption shows it: minutes of the hour and seconds of
    // the minute, two digits each ("00:05"; one hour and two seconds give "00:02").
    static QString TextoDuracao(int LengthTime);
    // Where a recording that could not be put under its name is kept: the application folder, the
    // film's name with the moment, never a name the temporary-file clean-up deletes.
    static QString NomeResgate(const QString& fileName);

public Q_SLOTS:
    void SpeedButtonGravarClick();
    void SpeedButtonPauseClick();
    void SpeedButtonStopClick();
    void HotKeyManagerVideoHotKeyPressed(uint16_t HotKey, uint16_t Index);
    // The command line of a later QDXCapture: "play" acts as the recorder hot key does; anything
    // else brings the window to the front.
    void ComandoRecebido(const QStringList& arguments);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate(const QStringList& arguments);
    void AviCaptureCapturing(int LengthTime, TAviCapture* Sender); // recording thread
    void AviCaptureStop(bool Resultao);                            // recording thread
    void AviCaptureRecordingError(const QString& Message);         // recording thread
    void AviCaptureProgress(int I, TAviCapture* Sender, bool& FAbort);
    void AviCaptureExtractFramesProgress(int Max, int Min, int Value, TAviCapture* Sender,
                                         bool& FAbort);
    void FormClose();

    void definirEstado(TEstado estado);
    void aplicarSkin();
    void trazerParaFrente();
    // The film name for a new recording: the automatic one, or the one the name dialog gives.
    std::optional<QString> pedirNomeVideo();
    // The question before an existing film is replaced by a recording; true for Yes.
    bool perguntarSubstituir(const QString& film);
    // Ends the recording thread while the window keeps serving deliveries from it.
    void pararGravacao();
    // The recording thread ended with an error while the window showed a recording.
    void gravacaoFalhou();
    // Puts the uncompressed recording under FileName (or, failing that, under a name the
    // clean-up keeps) and returns where it is now; an empty result means it could not be moved
    // at all, and `erro` says why.
    QString guardarGravacao(const QString& gravacao, QString& erro);
    // Steps of Stop after the film is closed: compression, the film put under its name, Idle.
    // False when an error was shown (no question follows).
    bool concluirGravacao();

    TEstado m_estado = TEstado::Idle;
    bool m_primeiraExibicao = true;
    bool m_pedindoNome = false;
    bool m_fecharAoTerminar = false;
    // A recording left under its temporary name: the clean-up at close leaves it alone.
    bool m_manterTemporarios = false;
    // What the recording thread reported about the film it closed: -1 nothing, 0 false, 1 true.
    std::atomic<int> m_resultadoStop{-1};
};
