#pragma once

#include "platform/core/Prompts.h"
#include "ui/PictureSource.h"

#include <QMdiSubWindow>

class QHBoxLayout;

#include <functional>

class EditorHost;
struct FilmOutcome;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class TAviCapture;
class TImagemQuadro;
class TSpinEdit;
class TStatusBar;
class TjanTracker;

// The frame viewer that the split and join windows are built on: one film loaded into the
// window's own engine, its frames shown one at a time in a scrolling picture area with a zoom, the
// frame slider with its selection band, the boxes of the frame and the selected range, the part
// count and part size of a split, and a status bar with the film's size, the frame position, the
// selection and the progress of film commands painted into its last panel.
//
// Frames are numbered from 1 in everything the user sees; the engine numbers them from 0.
//
// The two windows differ only where the hooks below say; each lays the controls out itself and
// calls FormCreate at the end of its constructor.
class TVisualizadorFilme : public QMdiSubWindow, public PictureSource {
    Q_OBJECT

public:
    // `host` is the main window (not owned; it outlives its child windows).
    TVisualizadorFilme(EditorHost* host, QWidget* parent = nullptr);
    ~TVisualizadorFilme() override;

    // Controls of the viewer.
    QScrollArea* ScrollBoxFrame;
    TImagemQuadro* Imagem;
    QLabel* LabelZoom;
    TSpinEdit* SpinEditZoom;
    QLabel* LabelPorcento;
    QPushButton* SpeedButtonTamanhoNormal;
    QPushButton* SpeedButtonAjustarNaTela;
    QLabel* LabelFrame;
    TSpinEdit* SpinEditFrameAtual;
    QLabel* LabelTotal;
    QLineEdit* EditTotalFrames;
    TjanTracker* TrackerVideo;
    QGroupBox* GroupBoxFramesSelecionados;
    QLabel* LabelSelecaoInicial;
    TSpinEdit* SpinEditSelecaoInicial;
    QLabel* LabelSelecaoFinal;
    TSpinEdit* SpinEditSelecaoFinal;
    QGroupBox* GroupBoxSplit;
    QLabel* LabelNumeroPartes;
    TSpinEdit* SpinEditNumeroPartes;
    QLabel* LabelTamanhoPartes;
    TSpinEdit* SpinEditTamanhoPartes;
    QLineEdit* EditTamanho;
    QLabel* LabelTextoTamanho;
    QPushButton* SpeedButtonDividir;
    QPushButton* SpeedButtonSalvar;
    QCheckBox* CheckBoxSom;
    TStatusBar* StatusBar;
    QProgressBar* ProgressBarCompactar;
    qdx::FileDialogRequest OpenDialogVideo;
    TAviCapture* AviCapture;

    // Window state.
    QString NomeFilme;       // the film last loaded; not cleared by closing it
    qint64 TamanhoFilme = 0; // size of its file in bytes
    int LarguraQuadro = 0;   // natural frame size, stored by AjustarTamanhoTela
    int AlturaQuadro = 0;
    qint64 TamanhoParte = 0; // part size of a split, in bytes
    qint64 KB = 0;
    double MB = 0, GB = 0, TB = 0;

    // Routines.
    static QString FormataValorBytes(qint64 bytes);
    // Size of the file in bytes (64 bits: films past 2 GiB show their real size); 0 when it
    // cannot be found.
    static qint64 TamanhoArquivo(const QString& path);
    void DesabilitarControles();
    void HabilitarControles();
    bool AbrirVideo(const QString& path);
    void AlinharImage();
    void AjustarTamanhoTela(int width, int height);

    // Handlers.
    void TrackerVideoChangedValue(int NewValue);
    void SpinEditFrameAtualChange();
    void SpinEditZoomChange();
    void SpeedButtonTamanhoNormalClick();
    void SpeedButtonAjustarNaTelaClick();
    void SpinEditSelecaoInicialChange();
    void SpinEditSelecaoFinalChange();
    void SpinEditNumeroPartesChange();
    void SpinEditTamanhoPartesChange();
    void AviCaptureProgress(int I, TAviCapture* Sender, bool& FAbort);
    void AviCaptureExtractFramesProgress(int Max, int Min, int Value, TAviCapture* Sender,
                                         bool& FAbort);
    void FormCreate();

    // The film commands both windows share.
    // Writes the selected range into a new film.
    void CopiarSelecao();
    // Cuts the whole film into SpinEditNumeroPartes parts.
    void DividirFilme();
    // Runs the main window's Save command for the frame shown here.
    void SalvarCena();

    // True while a film command of this window runs.
    bool ComandoEmCurso() const { return m_comandoEmCurso; }
    // True when the film name names an existing file.
    bool FilmeExiste() const;

    // PictureSource: the frame shown, at its real size.
    const TBitmap* SourcePicture() const override;
    bool TakesSavedName() const override { return false; }

    // The text of a size without its unit, and the unit ("9.54MB" gives 9.54 and MB).
    static QString NumeroDoTamanho(const QString& text);
    static QString UnidadeDoTamanho(const QString& text);

protected:
    // A command button of the film windows: its caption is its accessible name, its hint the
    // tool tip and accessible description; it takes no focus, as the windows' speed buttons.
    static QPushButton* BotaoComando(const char* name, const QString& caption, const QString& hint);
    // Adds the selection and part boxes, which both film windows show side by side, to a row.
    void AdicionarCaixasSelecaoPartes(QHBoxLayout* row);
    // The frame of every long operation: a target name from the main window's film dialog,
    // "processing..." in the main window's status panel 2 and its old text back afterwards (also
    // after a failure), a failure's reason in the error box (a cancel shows nothing), and the film
    // loaded again when the command wrote over it. Needs the film name to name an existing file.
    // A command while any film window's command runs is refused, and the status bar says why:
    // the running one lets events run inside its progress handlers.
    using OperacaoFilme = std::function<FilmOutcome(const QString& target)>;
    void ComandoFilme(const OperacaoFilme& operacao);
    // A film command on the selected range (slider SelStart - 1 .. SelEnd - 1, both included).
    // The range is cut to the film's frames at the command: typed boxes keep what was typed
    // until they lose the focus, and the command buttons take none.
    using OperacaoSelecao = FilmOutcome (TAviCapture::*)(bool keepSound, int first, int last,
                                                         const QString& source,
                                                         const QString& target);
    void ComandoSelecao(OperacaoSelecao operacao);
    // The same without the film precondition (the join window needs a non-empty list instead).
    void ExecutarComandoFilme(const OperacaoFilme& operacao);
    // The status text of a refused command.
    static QString TextoComandoRecusado();
    // Runs a command that reloads or closes the film, unless a film command runs: that command
    // still needs the engine.
    void SemComandoEmCurso(const std::function<void()>& comando);

    // Hooks: the places where the two windows differ.
    // "QDX-SplitAvi" or "QDX-Join": the caption after a load is this, "[", the film name and "]".
    virtual QString PrefixoTitulo() const = 0;
    // Each window resets and sets up its further controls after the viewer's own steps.
    virtual void DesabilitarControlesJanela() {}
    virtual void HabilitarControlesJanela() {}
    // Loading, after the film is open and before the set-up (the join window's information).
    virtual void MostrarInformacoes() {}
    // Status panel 1 after a load begins with this ("Frame " or "Frames: ").
    virtual QString TextoQuadroAoCarregar() const;
    // The last step of the part-count handlers (the split window names the part count on its
    // split button).
    virtual void PartesAlteradas() {}
    // Loads the film again after a command wrote a new film under its name.
    virtual void RecarregarFilme();
    // Whether the sound box is enabled after a load (the loaded film has sound).
    virtual bool SomDisponivel();

    EditorHost* Host() const { return m_host; }
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void StatusBarDrawPanel(QPainter& canvas, int panel, const QRect& rect);
    void mostrarTamanhoParte();
    void mostrarQuadro(std::unique_ptr<TBitmap> frame);
    void atualizarPainelSelecao();
    void atualizarTela();

    EditorHost* m_host;
    QWidget* m_canvas;
    bool m_comandoEmCurso = false;
    bool m_fecharAoTerminar = false;
};
