#include "app/TFormPrincipal.h"

#include "app/TFormExplorer.h"
#include "avi/TAviCapture.h"
#include "dialogs/TFormErro.h"
#include "editor/FilmCommands.h"
#include "platform/core/AppFolder.h"
#include "platform/x11/ScreenSource.h"
#include "shared/Configuracoes.h"
#include "shared/ShortcutText.h"
#include "shared/SoftwareKey.h"
#include "ui/ApagarTemporarios.h"
#include "ui/ErrorRoute.h"
#include "ui/HelpWindow.h"
#include "ui/InternetState.h"
#include "ui/ShortcutKeys.h"
#include "ui/THotKeyManager.h"
#include "ui/TStatusBar.h"
#include "ui/TTaskBarIcon.h"
#include "ui/WindowSystem.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

TFormPrincipal* FormPrincipal = nullptr;

namespace {

constexpr const char* kSkinValue = "SKIN_SELECIONADA";

const QString kPictureFilter = QStringLiteral(
    "All (*.gif;*.jpg;*.jpeg;*.bmp;*.wmf)|*.gif;*.jpg;*.jpeg;*.bmp;*.wmf|GIF Image (*.gif)|*.gif|"
    "JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|"
    "Metafiles (*.wmf)|*.wmf");

} // namespace

TFormPrincipal::TFormPrincipal(QWidget* parent, TrayArea* trayArea) : QMainWindow(parent) {
    FormPrincipal = this;
    setObjectName(QStringLiteral("FormPrincipal"));
    setWindowTitle(qdx::applicationTitle());
    resize(1024, 700);

    // The client area: the multiple-document area above the status bar.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    MdiArea = new QMdiArea(client);
    MdiArea->setObjectName(QStringLiteral("MdiArea"));
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(MdiArea, 1);
    StatusBar = new TStatusBar(client);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    layout->addWidget(StatusBar);
    setCentralWidget(client);

    TimerBanner = new QTimer(this);
    TimerBanner->setObjectName(QStringLiteral("TimerBanner"));
    TimerBanner->setInterval(600000);

    TaskbarIcon = trayArea ? new TTaskBarIcon(trayArea, this) : new TTaskBarIcon(this);
    TaskbarIcon->setObjectName(QStringLiteral("TaskbarIcon"));
    HotKeyManager = new THotKeyManager(this);
    HotKeyManager->setObjectName(QStringLiteral("HotKeyManager"));
    HotKeyManagerVideo = new THotKeyManager(this);
    HotKeyManagerVideo->setObjectName(QStringLiteral("HotKeyManagerVideo"));
    AviCapture = new TAviCapture(this);
    AviCapture->setObjectName(QStringLiteral("AviCapture"));

    OpenPictureDialog.filter = kPictureFilter;
    OpenPictureDialog.defaultSuffix = QStringLiteral("bmp");
    OpenPictureDialog.mustExist = true;
    OpenPictureDialog.picturePreview = true;
    SavePictureDialog.filter = kPictureFilter;
    SavePictureDialog.defaultSuffix = QStringLiteral("bmp");
    OpenDialogIcone.filter = QStringLiteral("Todos os arquivos|*.*");
    OpenDialogVideo.filter = QStringLiteral("Arquivo de Video|*.avi");
    OpenDialogVideo.defaultSuffix = QStringLiteral("avi");
    SaveDialogVideo.filter = QStringLiteral("Arquivo de Video|*.avi");
    SaveDialogVideo.defaultSuffix = QStringLiteral("avi");

    buildMenus();
    buildToolBar();
    buildBanner();
    buildStatusBar();
    connectComponents();
    FormCreate();
}

TFormPrincipal::~TFormPrincipal() {
    // The child windows are destroyed after this destructor, by the widget's own; the area's
    // signals must not reach this half-destroyed window then.
    disconnect(MdiArea, nullptr, this, nullptr);
    MdiArea->viewport()->removeEventFilter(this);
    qdx::ui::setExceptionHook({});
    setApplicationHelpHook({});
    // Picture windows ask nothing when the program ends.
    for (QMdiSubWindow* child : MdiArea->subWindowList())
        child->setAttribute(Qt::WA_DeleteOnClose, false);
    // Image browsers stop their workers while the rest of the window is still whole.
    for (QMdiSubWindow* child : MdiArea->subWindowList())
        if (qobject_cast<TFormExplorer*>(child))
            delete child;
    if (FormPrincipal == this)
        FormPrincipal = nullptr;
}

QIcon TFormPrincipal::ApplicationIcon() {
    return QIcon(QStringLiteral(":/quadrix/quadrix.svg"));
}

QAction* TFormPrincipal::action(QMenu* menu, const char* name, const QString& caption,
                                const QString& hint, void (TFormPrincipal::*handler)(QObject*)) {
    auto* a = new QAction(caption, this);
    a->setObjectName(QString::fromLatin1(name));
    if (!hint.isEmpty())
        a->setToolTip(hint);
    if (handler)
        connect(a, &QAction::triggered, this,
                qdx::ui::guarded(a, [this, a, handler](bool) { (this->*handler)(a); }));
    if (menu)
        menu->addAction(a);
    return a;
}

void TFormPrincipal::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    const auto menu = [this, bar](const char* name, const QString& caption) {
        QMenu* m = bar->addMenu(caption);
        m->setObjectName(QString::fromLatin1(name));
        m->setToolTipsVisible(true);
        return m;
    };
    using F = TFormPrincipal;

    Arquivo = menu("Arquivo", QStringLiteral("&File"));
    Abrir =
        action(Arquivo, "Abrir", QStringLiteral("&Open"), QStringLiteral("Abrir"), &F::AbrirClick);
    Abrir->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Salvar = action(Arquivo, "Salvar", QStringLiteral("S&ave"), QStringLiteral("Salvar"),
                    &F::SalvarClick);
    Salvar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    Salvarcomo = action(Arquivo, "Salvarcomo", QStringLiteral("Save &as"),
                        QStringLiteral("Salvar como"), &F::SalvarcomoClick);
    Visualizarimagens1 = action(Arquivo, "Visualizarimagens1", QStringLiteral("&Visualize images"),
                                QStringLiteral("Visualizar imagens"), &F::Visualizarimagens1Click);
    Arquivo->addSeparator();
    Minimizar1 = action(Arquivo, "Minimizar1", QStringLiteral("&Minimize Window"),
                        QStringLiteral("Minimizar tela"), &F::Minimizar1Click);
    Capturartela = action(Arquivo, "Capturartela", QStringLiteral("&Screen Capture"),
                          QStringLiteral("Capturar tela"), &F::CapturartelaClick);
    Extraircone1 = action(Arquivo, "Extraircone1", QStringLiteral("&Extract icon"),
                          QStringLiteral("Extrair ícone"), &F::Extraircone1Click);
    Arquivo->addSeparator();
    Sair = action(Arquivo, "Sair", QStringLiteral("&Exit"), QStringLiteral("Sair"), &F::SairClick);

    Video1 = menu("Video1", QStringLiteral("&AVI"));
    CriarVideo1 = action(Video1, "CriarVideo1", QStringLiteral("&Create AVI"),
                         QStringLiteral("Cirar Vídeo"), &F::CriarVideo1Click);
    Comprimir1 = action(Video1, "Comprimir1", QStringLiteral("&Compress AVI"),
                        QStringLiteral("Compactar vídeo"), &F::Comprimir1Click);
    AviSplit1 = action(Video1, "AviSplit1", QStringLiteral("Tools - Split Movie (AVI)"),
                       QStringLiteral("Ferramentas - Cortar Video"), &F::AviSplit1Click);
    ToolsJoin1 = action(Video1, "ToolsJoin1", QStringLiteral("Tools - Join / Merge Movie(AVI)"),
                        QStringLiteral("Ferramentas - Juntar Video"), &F::ToolsJoin1Click);

    Tela1 = menu("Tela1", QStringLiteral("&Skins"));
    Tela1->menuAction()->setToolTip(QStringLiteral("Skins"));
    m_skinMenuGroup = new QActionGroup(this);
    m_skinMenuGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    const QString skinNames[] = {QStringLiteral("&Azul"), QStringLiteral("&Cinza"),
                                 QStringLiteral("&Verde"), QStringLiteral("&Nenhum")};
    const char* menuSkinNames[] = {"Azul1", "Cinza1", "Verde1", "Nenhum1"};
    QAction** menuSkins[] = {&Azul1, &Cinza1, &Verde1, &Nenhum1};
    for (int i = 0; i < 4; ++i) {
        QAction* a = action(Tela1, menuSkinNames[i], skinNames[i], QString(), &F::Cinza1Click);
        a->setCheckable(true);
        a->setData(i);
        m_skinMenuGroup->addAction(a);
        *menuSkins[i] = a;
    }

    Configuracao = action(nullptr, "Configuracao", QStringLiteral("&Configurations"),
                          QStringLiteral("Configurações"), &F::ConfiguracaoClick);
    bar->addAction(Configuracao);

    Janelas1 = menu("Janelas1", QStringLiteral("&Window"));
    Cascade1 = action(Janelas1, "Cascade1", QStringLiteral("&Cascade"), QString(), nullptr);
    connect(Cascade1, &QAction::triggered, MdiArea, &QMdiArea::cascadeSubWindows);
    Arrange1 = action(Janelas1, "Arrange1", QStringLiteral("&Arrange"), QString(), nullptr);
    connect(Arrange1, &QAction::triggered, this,
            qdx::ui::guarded(Arrange1, [this](bool) { ArrangeIcons(); }));
    MinimizeAll1 =
        action(Janelas1, "MinimizeAll1", QStringLiteral("&Minimize All"), QString(), nullptr);
    connect(MinimizeAll1, &QAction::triggered, this, qdx::ui::guarded(MinimizeAll1, [this](bool) {
                for (QMdiSubWindow* child : MdiArea->subWindowList())
                    child->showMinimized();
            }));
    TileHorizontally1 = action(Janelas1, "TileHorizontally1", QStringLiteral("Tile &Horizontally"),
                               QString(), nullptr);
    connect(TileHorizontally1, &QAction::triggered, this,
            qdx::ui::guarded(TileHorizontally1, [this](bool) { TileChildren(Qt::Vertical); }));
    TileVertically1 =
        action(Janelas1, "TileVertically1", QStringLiteral("&Tile Vertically"), QString(), nullptr);
    connect(TileVertically1, &QAction::triggered, this,
            qdx::ui::guarded(TileVertically1, [this](bool) { TileChildren(Qt::Horizontal); }));
    Janelas1->addSeparator();
    Close1 = action(Janelas1, "Close1", QStringLiteral("C&lose"), QString(), nullptr);
    connect(Close1, &QAction::triggered, this, qdx::ui::guarded(Close1, [this](bool) {
                if (QMdiSubWindow* child = MdiArea->activeSubWindow())
                    child->close();
            }));

    Sobre1 = menu("Sobre1", QStringLiteral("&Help"));
    SobreoQuadrix1 = action(Sobre1, "SobreoQuadrix1", QStringLiteral("About  Quadrix"),
                            QStringLiteral("Sobre o Quadrix"), &F::SobreoQuadrix1Click);
    Sobre1->addSeparator();
    Faleconosco1 = action(Sobre1, "Faleconosco1", QStringLiteral("&Contact us"),
                          QStringLiteral("Fale conosco"), &F::Faleconosco1Click);
    Sobre1->addSeparator();
    AjudadoQuadrix1 = action(Sobre1, "AjudadoQuadrix1", QStringLiteral("&Ajuda do Quadrix"),
                             QStringLiteral("Ajuda do Quadrix"), &F::AjudadoQuadrix1Click);
    AjudadoQuadrix1->setShortcut(QKeySequence(Qt::Key_F1));

    // The tray menu.
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    ShowMainForm11 = action(PopupMenu, "ShowMainForm11", QStringLiteral("&Open"), QString(),
                            &F::ShowMainForm11Click);
    PopupMenu->addSeparator();
    CapturarTelaPopup = action(PopupMenu, "CapturarTelaPopup", QStringLiteral("&Screen Capture"),
                               QString(), &F::CapturarTelaPopupClick);
    // Only the main menu's entry answers the key inside the program; this one just shows it.
    CapturarTelaPopup->setShortcutContext(Qt::WidgetShortcut);
    Criarvideo2 = action(PopupMenu, "Criarvideo2", QStringLiteral("Create &AVI"), QString(),
                         &F::Criarvideo2Click);
    Configuraes2 = action(PopupMenu, "Configuraes2", QStringLiteral("C&onfigurations"), QString(),
                          &F::Configuraes2Click);
    PopupMenu->addSeparator();
    ExitApplication1 = action(PopupMenu, "ExitApplication1", QStringLiteral("&Exit"), QString(),
                              &F::ExitApplication1Click);

    // The skin drop-down of the tool bar.
    PopupMenuSkin = new QMenu(this);
    PopupMenuSkin->setObjectName(QStringLiteral("PopupMenuSkin"));
    m_skinPopupGroup = new QActionGroup(this);
    m_skinPopupGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    const char* popupSkinNames[] = {"Azul2", "Cinza2", "Verde2", "Nenhum2"};
    QAction** popupSkins[] = {&Azul2, &Cinza2, &Verde2, &Nenhum2};
    for (int i = 0; i < 4; ++i) {
        QAction* a =
            action(PopupMenuSkin, popupSkinNames[i], skinNames[i], QString(), &F::Cinza1Click);
        a->setCheckable(true);
        a->setData(i);
        m_skinPopupGroup->addAction(a);
        *popupSkins[i] = a;
    }
}

void TFormPrincipal::buildToolBar() {
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    QStyle* s = style();
    const auto button = [this](const char* name, QAction* bound, const QIcon& icon) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoRaise(true);
        if (bound) {
            // The button runs its menu entry and shows the entry's hint.
            connect(b, &QToolButton::clicked, bound, [bound] { bound->trigger(); });
            b->setToolTip(bound->toolTip());
        }
        b->setIcon(icon);
        ToolBar1->addWidget(b);
        return b;
    };
    button("ToolButton1", Abrir, s->standardIcon(QStyle::SP_DialogOpenButton));
    button("ToolButton2", Salvar, s->standardIcon(QStyle::SP_DialogSaveButton));
    button("ToolButton3", Salvarcomo, s->standardIcon(QStyle::SP_DriveFDIcon));
    ToolBar1->addSeparator();
    button("ToolButton5", Visualizarimagens1, s->standardIcon(QStyle::SP_FileDialogContentsView));
    ToolBar1->addSeparator();
    button("ToolButton7", Minimizar1, s->standardIcon(QStyle::SP_TitleBarMinButton));
    button("ToolButton8", Capturartela, s->standardIcon(QStyle::SP_ComputerIcon));
    button("ToolButton9", Extraircone1, s->standardIcon(QStyle::SP_FileIcon));
    ToolBar1->addSeparator();
    button("ToolButton10", Sair, s->standardIcon(QStyle::SP_DialogCloseButton));
    ToolBar1->addSeparator();
    button("ToolButton11", CriarVideo1, s->standardIcon(QStyle::SP_MediaPlay));
    button("ToolButton12", Comprimir1, s->standardIcon(QStyle::SP_DriveHDIcon));
    button("ToolButton13", AviSplit1, s->standardIcon(QStyle::SP_MediaSeekForward));
    button("ToolButton14", ToolsJoin1, s->standardIcon(QStyle::SP_FileDialogListView));
    ToolBar1->addSeparator();
    ToolButtonSkin = button("ToolButtonSkin", nullptr, s->standardIcon(QStyle::SP_DesktopIcon));
    ToolButtonSkin->setToolTip(QStringLiteral("Skins"));
    ToolButtonSkin->setMenu(PopupMenuSkin);
    ToolButtonSkin->setPopupMode(QToolButton::InstantPopup);
    ToolBar1->addSeparator();
    ToolButton19 =
        button("ToolButton19", nullptr, s->standardIcon(QStyle::SP_FileDialogDetailedView));
    ToolButton19->setToolTip(QStringLiteral("Configurações"));
    connect(ToolButton19, &QToolButton::clicked, this,
            qdx::ui::guarded(ToolButton19, [this](bool) { ToolButton19Click(ToolButton19); }));
    ToolBar1->addSeparator();
    button("ToolButton22", SobreoQuadrix1, s->standardIcon(QStyle::SP_MessageBoxInformation));
    ToolBar1->addSeparator();
    button("ToolButton25", Faleconosco1, s->standardIcon(QStyle::SP_DialogYesButton));
    ToolBar1->addSeparator();
    button("ToolButton28", AjudadoQuadrix1, s->standardIcon(QStyle::SP_DialogHelpButton));
    // The buttons show only icons: each is named by its hint for screen readers.
    for (QToolButton* b :
         ToolBar1->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly))
        b->setAccessibleName(b->toolTip());
}

void TFormPrincipal::buildBanner() {
    addToolBarBreak();
    ToolBarBanner = new QToolBar(QStringLiteral("ToolBarBanner"), this);
    ToolBarBanner->setObjectName(QStringLiteral("ToolBarBanner"));
    ToolBarBanner->setMovable(false);
    ToolBarBanner->setFloatable(false);
    ToolBarBanner->setFixedHeight(71);
    ToolBarBanner->setStyleSheet(
        QStringLiteral("QToolBar#ToolBarBanner { border-top: 1px solid palette(light); "
                       "border-bottom: 1px solid palette(dark); }"));
    BannerSpacer = new QWidget(ToolBarBanner);
    BannerSpacer->setObjectName(QStringLiteral("BannerSpacer"));
    BannerSpacer->setFixedWidth(187);
    ToolBarBanner->addWidget(BannerSpacer);
    addToolBar(Qt::TopToolBarArea, ToolBarBanner);
    ToolBarBanner->hide();
}

void TFormPrincipal::buildStatusBar() {
    StatusBar->SetPanels(
        {{150, QString(), true}, {300, QString(), false}, {500, QString(), false}});
    ProgressBarCompactar = new QProgressBar(this);
    ProgressBarCompactar->setObjectName(QStringLiteral("ProgressBarCompactar"));
    ProgressBarCompactar->setRange(0, 100);
    ProgressBarCompactar->setValue(0);
    ProgressBarCompactar->setTextVisible(false);
    ProgressBarCompactar->hide();
    StatusBar->OnDrawPanel = [this](TStatusBar*, QPainter& canvas, int panel, const QRect& rect) {
        if (panel != 0)
            return;
        // The bar is never shown as a control: it is painted into the panel.
        ProgressBarCompactar->resize(std::max(0, rect.width() - 1), rect.height() + 1);
        ProgressBarCompactar->render(&canvas, rect.topLeft(), QRegion(), QWidget::DrawChildren);
    };
}

void TFormPrincipal::connectComponents() {
    connect(TimerBanner, &QTimer::timeout, this,
            qdx::ui::guarded(TimerBanner, [this] { TimerBannerTimer(); }));
    connect(MdiArea, &QMdiArea::subWindowActivated, this,
            [this](QMdiSubWindow*) { atualizarMenuJanelas(); });
    // Child windows come and go inside the area's viewport; the Window menu follows them.
    MdiArea->viewport()->installEventFilter(this);
    TaskbarIcon->OnUp = [this](QObject* s, Qt::MouseButton b, Qt::KeyboardModifiers m, int x,
                               int y) {
        TaskbarIconUp(s, b, m, x, y);
    };
    TaskbarIcon->OnDblClick = [this](QObject* s, Qt::MouseButton b, Qt::KeyboardModifiers m, int x,
                                     int y) {
        TaskbarIconDblClick(s, b, m, x, y);
    };
    HotKeyManager->OnHotKeyPressed =
        qdx::ui::guarded(HotKeyManager, [this](uint16_t hotKey, uint16_t index) {
            HotKeyManagerHotKeyPressed(hotKey, index);
        });
    HotKeyManagerVideo->OnHotKeyPressed =
        qdx::ui::guarded(HotKeyManagerVideo, [this](uint16_t hotKey, uint16_t index) {
            HotKeyManagerVideoHotKeyPressed(hotKey, index);
        });
    AviCapture->OnProgress = [this](int i, TAviCapture* sender, bool& abort) {
        AviCaptureProgress(i, sender, abort);
    };
    AviCapture->OnExtractFramesProgress = [this](int max, int min, int value, TAviCapture* sender,
                                                 bool& abort) {
        AviCaptureExtractFramesProgress(max, min, value, sender, abort);
    };
    atualizarMenuJanelas();
}

void TFormPrincipal::FormCreate() {
    const QString title = qdx::applicationTitle();
    IndiceSkin =
        LerChaveSoftware(title, QString::fromLatin1(kSkinValue), TTipoChave::tcInteiro, 0).toInt();
    if (mostrar_banner)
        TimerBanner->start();
    qdx::ui::setExceptionHook([this](QObject* sender, const std::exception& e) {
        ApplicationEventsException(sender, e);
    });
    HelpFile = qdx::dataFolder() + QStringLiteral("Quadrix.html");
    setApplicationHelpFile(HelpFile);
    TaskbarIcon->SetTip(title);
    setWindowIcon(ApplicationIcon());
    TaskbarIcon->SetIcon(windowIcon());

    const uint16_t captureKey = TextToShortCut(comando_captura_tela);
    IdHotKeyCaptura = captureKey ? HotKeyManager->RegisterShortCut(captureKey) : 0;
    Capturartela->setShortcut(keySequenceOf(captureKey));
    CapturarTelaPopup->setShortcut(keySequenceOf(captureKey));

    const uint16_t videoKey = TextToShortCut(comando_captura_video);
    IdHotKeyVideo = videoKey ? HotKeyManagerVideo->RegisterShortCut(videoKey) : 0;

    setApplicationHelpHook([this](uint16_t command, int32_t data, bool& callHelp) {
        return ApplicationHelp(command, data, callHelp);
    });
    ApagarTemporarios();
}

void TFormPrincipal::AplicarSkinInicial() {
    try {
        marcarSkin();
        aplicarSkin(false);
    } catch (...) {
        // A skin that cannot be applied leaves whatever look results.
    }
}

void TFormPrincipal::marcarSkin() {
    for (QActionGroup* group : {m_skinMenuGroup, m_skinPopupGroup})
        for (QAction* a : group->actions())
            a->setChecked(a->data().toInt() == IndiceSkin);
}

void TFormPrincipal::aplicarSkin(bool announce) {
    sd1.AplicarIndice(SkinStore1, IndiceSkin);
    if (announce && IndiceSkin != 3)
        sd1.DoSkinChanged();
}

void TFormPrincipal::Cinza1Click(QObject* Sender) {
    const auto* chosen = qobject_cast<QAction*>(Sender);
    if (!chosen)
        return;
    IndiceSkin = chosen->data().toInt();
    try {
        marcarSkin();
        aplicarSkin(true);
    } catch (...) {
        // Errors while applying a skin are ignored.
    }
}

void TFormPrincipal::FormActivate() {
    if (mostrar_banner)
        TimerBannerTimer();
}

bool TFormPrincipal::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        try {
            FormActivate();
        } catch (...) {
            qdx::ui::routeCurrentException(this);
        }
    }
    return QMainWindow::event(event);
}

void TFormPrincipal::FormClose() {
    try {
        GravarChaveSoftware(qdx::applicationTitle(), QString::fromLatin1(kSkinValue), IndiceSkin,
                            TTipoChave::tcInteiro);
    } catch (...) {
        // A refused write is reported, and the program still closes and cleans up.
        qdx::ui::routeCurrentException(this);
    }
    ApagarTemporarios();
}

void TFormPrincipal::closeEvent(QCloseEvent* event) {
    // A film command still needs its window, its engine and its temporary files: the close waits
    // until it has returned.
    if (FilmCommands::Running() > 0) {
        event->ignore();
        if (!m_closeWaiting) {
            m_closeWaiting = true;
            connect(
                &FilmCommands::instance(), &FilmCommands::Finished, this,
                [this] {
                    m_closeWaiting = false;
                    close();
                },
                Qt::SingleShotConnection);
        }
        return;
    }
    FormClose();
    event->accept();
    QCoreApplication::quit();
}

void TFormPrincipal::showEvent(QShowEvent* event) {
    // The program has no taskbar button: the tray icon is the way back to a hidden window.
    if (!event->spontaneous())
        qdx::ui::setSkipTaskbar(this);
    QMainWindow::showEvent(event);
}

void TFormPrincipal::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized))
        return;
    // Minimising hides the window into the notification area; without one the window stays
    // minimised, where the window system keeps it reachable (EsconderNaBandeja decides).
    if (m_hidingQueued)
        return;
    m_hidingQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_hidingQueued = false;
        if (windowState() & Qt::WindowMinimized)
            EsconderNaBandeja();
    });
}

void TFormPrincipal::EsconderNaBandeja() {
    TaskbarIcon->SetVisible(true);
    if (!TaskbarIcon->Visible()) {
        // No notification area: hiding would leave no way back to the open windows.
        if (!(windowState() & Qt::WindowMinimized))
            showMinimized();
        return;
    }
    Qt::WindowStates state = windowState() & ~Qt::WindowMinimized;
    m_stateBeforeHiding = state;
    if (windowState() & Qt::WindowMinimized)
        setWindowState(state);
    hide();
}

void TFormPrincipal::MostrarJanela() {
    TaskbarIcon->SetVisible(true);
    if (!isVisible()) {
        setWindowState(m_stateBeforeHiding);
        show();
    } else if (windowState() & Qt::WindowMinimized) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    raise();
    activateWindow();
}

void TFormPrincipal::TaskbarIconUp(QObject*, Qt::MouseButton Button, Qt::KeyboardModifiers, int X,
                                   int Y) {
    if (Button == Qt::RightButton)
        PopupMenu->popup(QPoint(X, Y));
}

void TFormPrincipal::TaskbarIconDblClick(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int,
                                         int) {
    MostrarJanela();
}

void TFormPrincipal::ShowMainForm11Click(QObject*) {
    MostrarJanela();
}

void TFormPrincipal::Minimizar1Click(QObject*) {
    EsconderNaBandeja();
}

QString TFormPrincipal::BannerHost() {
    const QString fromEnvironment = qEnvironmentVariable("QUADRIX_BANNER_HOST").trimmed();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return LerChaveSoftware(qdx::applicationTitle(), QStringLiteral("BANNER_HOST"),
                            TTipoChave::tcTexto, QString())
        .toString()
        .trimmed();
}

void TFormPrincipal::TimerBannerTimer() {
    TimerBanner->stop();
    try {
        const QString host = BannerHost();
        if (!host.isEmpty() && (qdx::ui::isLocalHost(host) || qdx::ui::InternetConectada()))
            navegarBanner();
    } catch (...) {
        // A failed navigation is ignored; the next firing tries again.
    }
    TimerBanner->start();
}

void TFormPrincipal::navegarBanner() {
    if (!WebBrowserBanner) {
        WebBrowserBanner = new QWebEngineView(ToolBarBanner);
        WebBrowserBanner->setObjectName(QStringLiteral("WebBrowserBanner"));
        WebBrowserBanner->setFixedSize(469, 62);
        WebBrowserBanner->setCursor(Qt::PointingHandCursor);
        ToolBarBanner->addWidget(WebBrowserBanner);
        connect(WebBrowserBanner, &QWebEngineView::loadFinished, this,
                qdx::ui::guarded(WebBrowserBanner,
                                 [this](bool ok) { WebBrowserBannerNavigateComplete2(ok); }));
    }
    WebBrowserBanner->load(QUrl(QStringLiteral("http://") + BannerHost() + BannerPath()));
}

void TFormPrincipal::WebBrowserBannerNavigateComplete2(bool loaded) {
    if (!loaded || !WebBrowserBanner) {
        // A page that did not load is not shown (the browser would show its error page).
        ToolBarBanner->hide();
        return;
    }
    const QString colour = QStringLiteral("#%1%2%3")
                               .arg(192, 2, 16, QLatin1Char('0'))
                               .arg(192, 2, 16, QLatin1Char('0'))
                               .arg(192, 2, 16, QLatin1Char('0'))
                               .toUpper();
    const QString script =
        QStringLiteral("(function() { var b = document.body; if (!b) return false;"
                       " b.style.borderStyle = 'none';"
                       " b.style.borderStyle = 'double';"
                       " b.style.borderColor = '%1'; return true; })()")
            .arg(colour);
    QPointer<TFormPrincipal> self(this);
    WebBrowserBanner->page()->runJavaScript(script, [self](const QVariant& result) {
        if (!self)
            return;
        if (result.toBool() && mostrar_banner)
            self->ToolBarBanner->show();
        else
            self->ToolBarBanner->hide();
    });
}

void TFormPrincipal::AviCaptureProgress(int I, TAviCapture*, bool&) {
    ProgressBarCompactar->setValue(I);
    StatusBar->repaint();
}

void TFormPrincipal::AviCaptureExtractFramesProgress(int Max, int Min, int Value, TAviCapture*,
                                                     bool&) {
    try {
        ProgressBarCompactar->setMaximum(Max);
        ProgressBarCompactar->setMinimum(Min);
        ProgressBarCompactar->setValue(Value);
        StatusBar->repaint();
        QCoreApplication::processEvents();
    } catch (...) {
        // Progress is only shown; a failure here must not stop the film work.
    }
}

void TFormPrincipal::ApplicationEventsException(QObject* Sender, const std::exception& E) {
    MostrarErro(E, Sender, this);
}

bool TFormPrincipal::ApplicationHelp(uint16_t Command, int32_t Data, bool& CallHelp) {
    if (Command == HELP_CONTEXTPOPUP) {
        WinHelp(this, HelpFile, HELP_CONTEXTPOPUP, Data);
        CallHelp = false;
    }
    return true;
}

bool TFormPrincipal::eventFilter(QObject* watched, QEvent* event) {
    if (watched == MdiArea->viewport() &&
        (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildRemoved))
        QTimer::singleShot(0, this, [this] { atualizarMenuJanelas(); });
    return QMainWindow::eventFilter(watched, event);
}

void TFormPrincipal::atualizarMenuJanelas() {
    const bool any = !MdiArea->subWindowList().isEmpty();
    for (QAction* a :
         {Cascade1, Arrange1, MinimizeAll1, TileHorizontally1, TileVertically1, Close1})
        a->setEnabled(any);
}
