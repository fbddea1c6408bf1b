#pragma once

#include "dialogs/TJanelaPrincipal.h"
#include "editor/EditorHost.h"
#include "platform/core/Prompts.h"
#include "platform/core/TBitmap.h"
#include "ui/TSkinData.h"
#include "ui/TSkinStore.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <memory>

class QAction;
class QActionGroup;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QTimer;
class QToolBar;
class QToolButton;
class QWebEngineView;
class TAviCapture;
class TFormImagem;
class THotKeyManager;
class TStatusBar;
class TTaskBarIcon;
class TrayArea;
class PictureSource;

namespace qdx::x11 {
class ScreenSource;
}

// The main window: a multiple-document frame holding every picture and film window, with the main
// menu, the tool bar, the banner strip, the status bar, the tray icon and the two global hot keys.
// Creating it runs FormCreate; closing it (close box, Alt+F4) stores the skin and removes the
// temporary files; the Exit commands end the program without those steps.
class TFormPrincipal : public QMainWindow, public EditorHost {
public:
    // `trayArea` replaces the desktop's notification area (tests); not owned.
    explicit TFormPrincipal(QWidget* parent = nullptr, TrayArea* trayArea = nullptr);
    ~TFormPrincipal() override;
    TFormPrincipal(const TFormPrincipal&) = delete;
    TFormPrincipal& operator=(const TFormPrincipal&) = delete;

    // Components.
    QMdiArea* MdiArea;
    QToolBar* ToolBar1;
    QToolBar* ToolBarBanner;
    QWidget* BannerSpacer;
    QWebEngineView* WebBrowserBanner = nullptr; // made at the first navigation
    TStatusBar* StatusBar;
    QProgressBar* ProgressBarCompactar;
    QTimer* TimerBanner;
    QMenu* PopupMenu;
    QMenu* PopupMenuSkin;
    TTaskBarIcon* TaskbarIcon;
    THotKeyManager* HotKeyManager;
    THotKeyManager* HotKeyManagerVideo;
    TAviCapture* AviCapture;
    TSkinStore SkinStore1;
    TSkinData sd1;

    // Main menu.
    QMenu *Arquivo, *Video1, *Tela1, *Janelas1, *Sobre1;
    QAction *Abrir, *Salvar, *Salvarcomo, *Visualizarimagens1, *Minimizar1, *Capturartela,
        *Extraircone1, *Sair;
    QAction *CriarVideo1, *Comprimir1, *AviSplit1, *ToolsJoin1;
    QAction *Azul1, *Cinza1, *Verde1, *Nenhum1;
    QAction* Configuracao;
    QAction *Cascade1, *Arrange1, *MinimizeAll1, *TileHorizontally1, *TileVertically1, *Close1;
    QAction *SobreoQuadrix1, *Faleconosco1, *AjudadoQuadrix1;
    // Tray menu and skin drop-down.
    QAction *ShowMainForm11, *CapturarTelaPopup, *Criarvideo2, *Configuraes2, *ExitApplication1;
    QAction *Azul2, *Cinza2, *Verde2, *Nenhum2;
    QToolButton* ToolButtonSkin;
    QToolButton* ToolButton19;

    // Dialogs (through the program's prompts).
    qdx::FileDialogRequest OpenPictureDialog;
    qdx::FileDialogRequest SavePictureDialog;
    qdx::FileDialogRequest OpenDialogIcone;
    qdx::FileDialogRequest OpenDialogVideo;
    qdx::FileDialogRequest SaveDialogVideo;

    // State.
    int32_t IndiceSkin = 0;       // 0 Azul, 1 Cinza, 2 Verde, 3 Nenhum
    uint16_t IdHotKeyCaptura = 0; // 0 when the capture hot key could not be registered
    uint16_t IdHotKeyVideo = 0;   // 0 when the recorder hot key could not be registered
    QString HelpFile;

    // Creation and life cycle.
    void FormCreate();
    void FormActivate();
    void FormClose();
    // Start-up step 8: the check mark of the stored skin and the skin itself, without announcing
    // the change; failures are ignored.
    void AplicarSkinInicial();

    // Banner.
    void TimerBannerTimer();
    void WebBrowserBannerNavigateComplete2(bool loaded);
    // The host that serves the banner page: $QUADRIX_BANNER_HOST, else the per-user value
    // BANNER_HOST; empty means the banner is never fetched.
    static QString BannerHost();
    static QString BannerPath() { return QStringLiteral("/produtos/qdx/banner.htm"); }

    // Status bar and progress.
    void AviCaptureProgress(int I, TAviCapture* Sender, bool& FAbort);
    void AviCaptureExtractFramesProgress(int Max, int Min, int Value, TAviCapture* Sender,
                                         bool& FAbort);

    // Skins, tray, hot keys, help, errors.
    void Cinza1Click(QObject* Sender);
    void TaskbarIconUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y);
    void TaskbarIconDblClick(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift,
                             int X, int Y);
    void HotKeyManagerHotKeyPressed(uint16_t HotKey, uint16_t Index);
    void HotKeyManagerVideoHotKeyPressed(uint16_t HotKey, uint16_t Index);
    bool ApplicationHelp(uint16_t Command, int32_t Data, bool& CallHelp);
    void ApplicationEventsException(QObject* Sender, const std::exception& E);

    // Commands.
    void AbrirClick(QObject* Sender);
    void SalvarClick(QObject* Sender);
    void SalvarcomoClick(QObject* Sender);
    void Visualizarimagens1Click(QObject* Sender);
    void Minimizar1Click(QObject* Sender);
    void CapturartelaClick(QObject* Sender);
    void CapturarTelaPopupClick(QObject* Sender);
    void Extraircone1Click(QObject* Sender);
    void SairClick(QObject* Sender);
    void ExitApplication1Click(QObject* Sender);
    void CriarVideo1Click(QObject* Sender);
    void Criarvideo2Click(QObject* Sender);
    void Comprimir1Click(QObject* Sender);
    void AviSplit1Click(QObject* Sender);
    void ToolsJoin1Click(QObject* Sender);
    void ConfiguracaoClick(QObject* Sender);
    // What the configuration dialog changes in this window on OK.
    TJanelaPrincipal PecasConfiguracao();
    void Configuraes2Click(QObject* Sender);
    void ToolButton19Click(QObject* Sender);
    void SobreoQuadrix1Click(QObject* Sender);
    void Faleconosco1Click(QObject* Sender);
    void AjudadoQuadrix1Click(QObject* Sender);
    void ShowMainForm11Click(QObject* Sender);

    // Pictures (screen capture and picture windows).
    std::unique_ptr<TBitmap> CopiarTela();
    void CapturarTela();
    void ExtrairIcone(const QString& path);
    void AbrirImagem(const QString& path);

    // The screen CopiarTela copies: the X server's primary monitor unless replaced (tests).
    void SetScreenSource(std::shared_ptr<qdx::x11::ScreenSource> source);
    // Starts the recorder program beside this one with the given arguments; nothing is reported
    // when it cannot be started.
    void IniciarGravador(const QStringList& arguments);
    // The recorder program's path: the program folder followed by "QDXCapture".
    static QString ProgramaGravador();

    // Window arrangement of the Window menu.
    void ArrangeIcons();
    void TileChildren(Qt::Orientation orientation);

    // The picture source of a child window, nullptr when it has none.
    static PictureSource* SourceOf(QMdiSubWindow* window);
    // Gives a child window its internal name: a valid identifier, unique among the program's
    // windows regardless of letter case. Throws qdx::Exception when it is not.
    void NomearJanela(QWidget* window, const QString& name);
    // Hides the window into the notification area; where there is none, minimises it instead.
    void EsconderNaBandeja();
    // Brings the window back from the notification area.
    void MostrarJanela();

    // The application's icon.
    static QIcon ApplicationIcon();

    // What the film windows use of this window (EditorHost).
    qdx::FileDialogRequest& SaveDialogVideoRequest() override { return SaveDialogVideo; }
    QString StatusText(int panel) const override;
    void SetStatusText(int panel, const QString& text) override;
    void SaveShownFrame(QMdiSubWindow* window) override;
    // Puts a new film window into the area, centred, and activates it.
    void MostrarJanelaFilme(QMdiSubWindow* window);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildToolBar();
    void buildBanner();
    void buildStatusBar();
    void connectComponents();
    QAction* action(QMenu* menu, const char* name, const QString& caption, const QString& hint,
                    void (TFormPrincipal::*handler)(QObject*));
    void marcarSkin();
    void aplicarSkin(bool announce);
    void atualizarMenuJanelas();
    void criarJanelaCaptura(const TBitmap& picture);
    void navegarBanner();

    std::shared_ptr<qdx::x11::ScreenSource> m_screen;
    bool m_screenFixed = false; // a source given by SetScreenSource, kept as it is
    QActionGroup* m_skinMenuGroup = nullptr;
    QActionGroup* m_skinPopupGroup = nullptr;
    Qt::WindowStates m_stateBeforeHiding = Qt::WindowMaximized;
    bool m_hidingQueued = false;
    // A close that came while a film command ran: done when the command returns.
    bool m_closeWaiting = false;
};

// The program's main window while it exists.
extern TFormPrincipal* FormPrincipal;
