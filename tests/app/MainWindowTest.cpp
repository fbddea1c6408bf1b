// The main window: its menus and tool bar, skins and their storage, the tray, the Window menu, the
// status bar's progress, the recorder start, help and the splash window.

#include "app/TFormImagem.h"
#include "app/TSplashF.h"
#include "platform/core/AppFolder.h"
#include "shared/Configuracoes.h"
#include "shared/SoftwareKey.h"
#include "tests/app/AppTestSupport.h"
#include "ui/HelpWindow.h"
#include "ui/TStatusBar.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <ctime>

using namespace qdx;
using namespace qdx::test;

namespace {

class MainWindow : public MainWindowFixture {
protected:
    int storedSkin() const {
        return LerChaveSoftware(QStringLiteral("Quadrix"), QStringLiteral("SKIN_SELECIONADA"),
                                TTipoChave::tcInteiro, -1)
            .toInt();
    }
    QAction* entry(const char* name) const {
        return form->findChild<QAction*>(QString::fromLatin1(name));
    }
    QStringList checkedSkins() const {
        QStringList names;
        for (QAction* a : {form->Azul1, form->Cinza1, form->Verde1, form->Nenhum1, form->Azul2,
                           form->Cinza2, form->Verde2, form->Nenhum2})
            if (a->isChecked())
                names.append(a->objectName());
        return names;
    }
};

TEST_F(MainWindow, EveryMenuEntryHasItsCaptionShortcutAndHint) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quadrix"));
    QStringList menus;
    for (QAction* a : form->menuBar()->actions())
        menus.append(a->text());
    EXPECT_EQ(menus,
              (QStringList{"&File", "&AVI", "&Skins", "&Configurations", "&Window", "&Help"}));

    struct Row {
        const char* name;
        const char* caption;
        const char* shortcut;
        const char* hint;
    };
    const Row rows[] = {
        {"Abrir", "&Open", "Ctrl+O", "Abrir"},
        {"Salvar", "S&ave", "Ctrl+S", "Salvar"},
        {"Salvarcomo", "Save &as", "", "Salvar como"},
        {"Visualizarimagens1", "&Visualize images", "", "Visualizar imagens"},
        {"Minimizar1", "&Minimize Window", "", "Minimizar tela"},
        {"Capturartela", "&Screen Capture", "Ctrl+Alt+C", "Capturar tela"},
        {"Extraircone1", "&Extract icon", "", "Extrair ícone"},
        {"Sair", "&Exit", "", "Sair"},
        {"CriarVideo1", "&Create AVI", "", "Cirar Vídeo"},
        {"Comprimir1", "&Compress AVI", "", "Compactar vídeo"},
        {"AviSplit1", "Tools - Split Movie (AVI)", "", "Ferramentas - Cortar Video"},
        {"ToolsJoin1", "Tools - Join / Merge Movie(AVI)", "", "Ferramentas - Juntar Video"},
        {"Configuracao", "&Configurations", "", "Configurações"},
        {"Cascade1", "&Cascade", "", ""},
        {"Close1", "C&lose", "", ""},
        {"SobreoQuadrix1", "About  Quadrix", "", "Sobre o Quadrix"},
        {"Faleconosco1", "&Contact us", "", "Fale conosco"},
        {"AjudadoQuadrix1", "&Ajuda do Quadrix", "F1", "Ajuda do Quadrix"},
        {"ShowMainForm11", "&Open", "", ""},
        {"CapturarTelaPopup", "&Screen Capture", "Ctrl+Alt+C", ""},
        {"Criarvideo2", "Create &AVI", "", ""},
        {"Configuraes2", "C&onfigurations", "", ""},
        {"ExitApplication1", "&Exit", "", ""},
    };
    for (const Row& row : rows) {
        QAction* a = entry(row.name);
        ASSERT_NE(a, nullptr) << row.name;
        EXPECT_EQ(a->text(), QString::fromUtf8(row.caption)) << row.name;
        EXPECT_EQ(a->shortcut().toString(), QString::fromUtf8(row.shortcut)) << row.name;
        if (*row.hint) {
            EXPECT_EQ(a->toolTip(), QString::fromUtf8(row.hint)) << row.name;
        }
    }
    // Menus in order, separators included.
    QStringList file;
    for (QAction* a : form->Arquivo->actions())
        file.append(a->isSeparator() ? QStringLiteral("-") : a->objectName());
    EXPECT_EQ(file, (QStringList{"Abrir", "Salvar", "Salvarcomo", "Visualizarimagens1", "-",
                                 "Minimizar1", "Capturartela", "Extraircone1", "-", "Sair"}));
    QStringList tray;
    for (QAction* a : form->PopupMenu->actions())
        tray.append(a->isSeparator() ? QStringLiteral("-") : a->objectName());
    EXPECT_EQ(tray, (QStringList{"ShowMainForm11", "-", "CapturarTelaPopup", "Criarvideo2",
                                 "Configuraes2", "-", "ExitApplication1"}));
}

TEST_F(MainWindow, ToolButtonsRunTheirEntriesAndShowTheirHints) {
    QStringList buttons;
    for (QToolButton* b :
         form->ToolBar1->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly))
        if (b->objectName().startsWith(QLatin1String("ToolButton"))) {
            buttons.append(b->objectName() + QLatin1Char('=') + b->toolTip());
            // Icon buttons are named by their hint for screen readers (and the window tests).
            EXPECT_EQ(b->accessibleName(), b->toolTip()) << b->objectName().toStdString();
        }
    EXPECT_EQ(
        buttons,
        (QStringList{"ToolButton1=Abrir", "ToolButton2=Salvar", "ToolButton3=Salvar como",
                     "ToolButton5=Visualizar imagens", "ToolButton7=Minimizar tela",
                     "ToolButton8=Capturar tela", "ToolButton9=Extrair ícone", "ToolButton10=Sair",
                     "ToolButton11=Cirar Vídeo", "ToolButton12=Compactar vídeo",
                     "ToolButton13=Ferramentas - Cortar Video",
                     "ToolButton14=Ferramentas - Juntar Video", "ToolButtonSkin=Skins",
                     "ToolButton19=Configurações", "ToolButton22=Sobre o Quadrix",
                     "ToolButton25=Fale conosco", "ToolButton28=Ajuda do Quadrix"}));
    EXPECT_EQ(form->ToolButtonSkin->menu(), form->PopupMenuSkin);
    // The capture button captures.
    form->findChild<QToolButton*>(QStringLiteral("ToolButton8"))->click();
    EXPECT_EQ(children().size(), 1);
    EXPECT_EQ(screen->grabs, 1);
}

TEST_F(MainWindow, TheStoredSkinIsCheckedAndAppliedAndAChoiceIsStoredOnlyOnClose) {
    // Nothing stored: Azul in both menus.
    EXPECT_EQ(form->IndiceSkin, 0);
    form->AplicarSkinInicial();
    EXPECT_EQ(checkedSkins(), (QStringList{"Azul1", "Azul2"}));
    EXPECT_EQ(form->palette().color(QPalette::Window),
              form->SkinStore1.Skin(0)->palette.color(QPalette::Window));

    // Choosing from the drop-down checks the same skin in the main menu too.
    form->Verde2->trigger();
    EXPECT_EQ(form->IndiceSkin, 2);
    EXPECT_EQ(checkedSkins(), (QStringList{"Verde1", "Verde2"}));
    EXPECT_EQ(form->palette().color(QPalette::Window),
              form->SkinStore1.Skin(2)->palette.color(QPalette::Window));
    EXPECT_EQ(storedSkin(), -1);

    // Leaving by Exit keeps the old stored value.
    form->Sair->trigger();
    EXPECT_EQ(storedSkin(), -1);

    // Closing the window stores the choice.
    form->Nenhum1->trigger();
    EXPECT_FALSE(form->sd1.Active());
    form->close();
    EXPECT_EQ(storedSkin(), 3);
    recreate();
    EXPECT_EQ(form->IndiceSkin, 3);
    form->AplicarSkinInicial();
    EXPECT_EQ(checkedSkins(), (QStringList{"Nenhum1", "Nenhum2"}));

    // A stored value outside 0..3 checks no entry.
    GravarChaveSoftware(QStringLiteral("Quadrix"), QStringLiteral("SKIN_SELECIONADA"), 7,
                        TTipoChave::tcInteiro);
    recreate();
    form->AplicarSkinInicial();
    EXPECT_TRUE(checkedSkins().isEmpty());
    form->Cinza1->trigger();
    EXPECT_EQ(checkedSkins(), (QStringList{"Cinza1", "Cinza2"}));
    form->Nenhum2->trigger();
}

// Work files left behind by the engine ("tmp_" and 32 hexadecimal digits); other names stay.
const QString kLeftover = QStringLiteral("tmp_0123456789ABCDEF0123456789ABCDEF.avi");
const QString kLeftoverSound = QStringLiteral("tmp_FEDCBA9876543210FEDCBA9876543210.wav");

TEST_F(MainWindow, CloseRemovesTemporaryFilesAndExitLeavesThem) {
    ASSERT_TRUE(writeAll(path(kLeftover), "x"));
    ASSERT_TRUE(writeAll(path(QStringLiteral("TMP_a.avi")), "x"));
    ASSERT_TRUE(writeAll(path(QStringLiteral("x_tmp_y.avi")), "x"));
    form->ExitApplication1->trigger();
    EXPECT_TRUE(QFile::exists(path(kLeftover)));
    form->close();
    EXPECT_FALSE(QFile::exists(path(kLeftover)));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("TMP_a.avi"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("x_tmp_y.avi")))) << "not a work file's name";
    // The next start removes them too.
    ASSERT_TRUE(writeAll(path(kLeftoverSound), "x"));
    recreate();
    EXPECT_FALSE(QFile::exists(path(kLeftoverSound)));
}

TEST_F(MainWindow, ARefusedSkinWriteIsReportedAndTheWindowStillClosesAndCleansUp) {
    // The per-user folder is a file: the value cannot be written.
    ASSERT_TRUE(writeAll(path(QStringLiteral("config")), "not a folder"));
    ASSERT_TRUE(writeAll(path(kLeftover), "x"));
    form->close();
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).size(), 1);
    EXPECT_FALSE(QFile::exists(path(kLeftover)));
}

TEST_F(MainWindow, MinimisingHidesIntoTheTrayAndTheTrayBringsTheWindowBack) {
    form->show();
    form->Minimizar1->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->TaskbarIcon->Visible());
    EXPECT_EQ(area.adds, 1);
    EXPECT_EQ(form->TaskbarIcon->Tip(), QStringLiteral("Quadrix"));

    // A double click with any button shows the window; the icon stays.
    form->TaskbarIcon->AreaAction(TTaskBarIcon::Action::DoubleClick);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->TaskbarIcon->Visible());
    EXPECT_EQ(area.removes, 0);

    // The title bar's minimise does the same once the window's state changes.
    form->showMinimized();
    QApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
    form->ShowMainForm11->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(area.adds, 1);

    // The capture hot key works while the window is hidden; the picture is there afterwards.
    form->Minimizar1->trigger();
    form->IdHotKeyCaptura = 7;
    form->HotKeyManagerHotKeyPressed(0xC043, 7);
    form->HotKeyManagerHotKeyPressed(0xC043, 8); // another registration's id does nothing
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(children().size(), 1);
}

TEST_F(MainWindow, WithoutANotificationAreaMinimisingKeepsTheWindowReachable) {
    area.accept = false;
    form->show();
    form->Minimizar1->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->TaskbarIcon->Visible());
    form->showNormal();
    form->showMinimized();
    QApplication::processEvents();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
}

TEST_F(MainWindow, TheTrayMenuOpensOnTheRightButtonAtTheCursor) {
    form->TaskbarIconUp(nullptr, Qt::LeftButton, Qt::NoModifier, 10, 10);
    EXPECT_FALSE(form->PopupMenu->isVisible());
    form->TaskbarIconUp(nullptr, Qt::RightButton, Qt::NoModifier, 40, 30);
    EXPECT_TRUE(form->PopupMenu->isVisible());
    form->PopupMenu->hide();
}

TEST_F(MainWindow, TheWindowMenuArrangesTheChildWindows) {
    for (QAction* a : {form->Cascade1, form->Arrange1, form->MinimizeAll1, form->TileHorizontally1,
                       form->TileVertically1, form->Close1})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    form->resize(1000, 700);
    form->show();
    form->CapturarTela();
    form->CapturarTela();
    QApplication::processEvents();
    EXPECT_TRUE(form->Close1->isEnabled());
    const QList<QMdiSubWindow*> two = children();
    ASSERT_EQ(two.size(), 2);

    form->TileVertically1->trigger();
    EXPECT_EQ(two[0]->y(), two[1]->y());
    EXPECT_LT(two[0]->x(), two[1]->x());
    EXPECT_EQ(two[0]->height(), form->MdiArea->viewport()->height());
    form->TileHorizontally1->trigger();
    EXPECT_EQ(two[0]->x(), two[1]->x());
    EXPECT_LT(two[0]->y(), two[1]->y());
    EXPECT_EQ(two[0]->width(), form->MdiArea->viewport()->width());

    form->MinimizeAll1->trigger();
    EXPECT_TRUE(two[0]->isMinimized() && two[1]->isMinimized());
    form->Arrange1->trigger();
    EXPECT_EQ(two[0]->geometry().bottom(), two[1]->geometry().bottom());

    // Close closes the current child as its close box would (saved pictures ask nothing).
    form->MdiArea->setActiveSubWindow(two[1]);
    form->Close1->trigger();
    settle();
    EXPECT_EQ(children().size(), 1);
    EXPECT_TRUE(prompts.asked.empty());
    form->Close1->trigger();
    settle();
    EXPECT_TRUE(children().isEmpty());
    EXPECT_FALSE(form->Close1->isEnabled());
}

TEST_F(MainWindow, TheProgressBarIsPaintedIntoTheFirstPanel) {
    form->resize(1100, 600);
    form->show();
    QApplication::processEvents();
    const QColor highlight = form->ProgressBarCompactar->palette().color(QPalette::Highlight);
    const auto filled = [&] {
        const QImage shot = form->StatusBar->grab().toImage();
        const QRect panel = form->StatusBar->PanelRect(0);
        int count = 0;
        for (int x = panel.left(); x <= panel.right(); ++x) {
            const QColor c = shot.pixelColor(x, panel.center().y());
            if (std::abs(c.red() - highlight.red()) + std::abs(c.green() - highlight.green()) +
                    std::abs(c.blue() - highlight.blue()) <
                60)
                ++count;
        }
        return double(count) / panel.width();
    };
    EXPECT_LT(filled(), 0.05);
    bool abort = false;
    form->AviCaptureProgress(100, nullptr, abort);
    EXPECT_GT(filled(), 0.8);
    form->AviCaptureExtractFramesProgress(200, 0, 100, nullptr, abort);
    EXPECT_NEAR(filled(), 0.5, 0.15);
    EXPECT_FALSE(abort);
    EXPECT_FALSE(form->ProgressBarCompactar->isVisible());
}

TEST_F(MainWindow, TheRecorderStartsBesideTheProgramWithPlayFromItsHotKey) {
    EXPECT_EQ(TFormPrincipal::ProgramaGravador(), programFolder() + QStringLiteral("QDXCapture"));
    // Without the recorder nothing is reported.
    QFile::remove(TFormPrincipal::ProgramaGravador());
    form->CriarVideo1->trigger();
    EXPECT_TRUE(prompts.asked.empty());

    const QString log = path(QStringLiteral("recorder.log"));
    ASSERT_TRUE(writeAll(TFormPrincipal::ProgramaGravador(),
                         "#!/bin/sh\necho \"run:$*\" >> '" + log.toUtf8() + "'\n"));
    QFile::setPermissions(TFormPrincipal::ProgramaGravador(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    form->CriarVideo1->trigger();
    form->Criarvideo2->trigger();
    form->IdHotKeyVideo = 9;
    form->HotKeyManagerVideoHotKeyPressed(0xC056, 9);
    form->HotKeyManagerVideoHotKeyPressed(0xC056, 9);
    form->HotKeyManagerVideoHotKeyPressed(0xC056, 3);
    QByteArray lines;
    for (int i = 0; i < 100 && lines.count('\n') < 4; ++i) {
        QThread::msleep(50);
        lines = readAll(log);
    }
    QFile::remove(TFormPrincipal::ProgramaGravador());
    QList<QByteArray> sorted = lines.trimmed().split('\n');
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (QList<QByteArray>{"run:", "run:", "run:play", "run:play"}));
}

TEST_F(MainWindow, HelpShowsTheContentsAndTheHookPassesContextPopUps) {
    form->HelpFile = sourceDir() + QStringLiteral("/app/help/Quadrix.html");
    form->AjudadoQuadrix1->trigger();
    ASSERT_NE(helpWindow(), nullptr);
    EXPECT_TRUE(helpWindow()->isVisible());
    EXPECT_EQ(helpWindow()->CurrentFile(), form->HelpFile);
    bool callHelp = true;
    EXPECT_TRUE(form->ApplicationHelp(HELP_CONTEXTPOPUP, 4, callHelp));
    EXPECT_FALSE(callHelp);
    EXPECT_EQ(helpWindow()->CurrentAnchor(), QStringLiteral("context-4"));
    callHelp = true;
    EXPECT_TRUE(form->ApplicationHelp(HELP_CONTEXT, 4, callHelp));
    EXPECT_TRUE(callHelp);
    // The Help command (F1) in the split and join windows opens their own topics.
    for (const auto& [command, anchor] :
         {std::pair{form->AviSplit1, QStringLiteral("context-1000")},
          std::pair{form->ToolsJoin1, QStringLiteral("context-900")}}) {
        command->trigger();
        QCoreApplication::processEvents();
        ASSERT_NE(form->MdiArea->activeSubWindow(), nullptr);
        form->AjudadoQuadrix1->trigger(); // its shortcut is F1
        EXPECT_EQ(helpWindow()->CurrentAnchor(), anchor);
        form->MdiArea->closeAllSubWindows();
    }
    WinHelp(nullptr, QString(), HELP_QUIT, 0);
    // The installed program looks for its help file beside itself.
    recreate();
    EXPECT_EQ(form->HelpFile, programFolder() + QStringLiteral("Quadrix.html"));
}

TEST_F(MainWindow, TheBannerIsNeverFetchedWithoutAHostOrWithTheSettingOff) {
    EXPECT_TRUE(form->TimerBanner->isActive());
    EXPECT_EQ(form->TimerBanner->interval(), 600000);
    form->TimerBannerTimer();
    EXPECT_EQ(form->WebBrowserBanner, nullptr);
    EXPECT_TRUE(form->TimerBanner->isActive());
    EXPECT_TRUE(form->ToolBarBanner->isHidden());

    mostrar_banner = false;
    recreate();
    EXPECT_FALSE(form->TimerBanner->isActive());
    qputenv("QUADRIX_BANNER_HOST", "127.0.0.1:9");
    form->FormActivate();
    EXPECT_EQ(form->WebBrowserBanner, nullptr);
    qunsetenv("QUADRIX_BANNER_HOST");
    mostrar_banner = true;
}

TEST(TSplashF, TheStartUpSplashCannotBeDismissedAndTheAboutWindowCloses) {
    TSplashF splash(TSplashF::Mode::StartUp);
    EXPECT_EQ(splash.size(), QSize(554, 317));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(splash.Image1->geometry(), QRect(4, 4, 545, 308));
    // Start-up waits for the first paint, in an event loop; a generous bound only keeps a broken
    // window system from hanging the test.
    EXPECT_FALSE(splash.Painted());
    splash.ShowAndWaitForPaint(60000);
    EXPECT_TRUE(splash.Painted());
    EXPECT_EQ(splash.Label1->text(), QStringLiteral("Version: 6.2.0"));
    EXPECT_EQ(splash.Label1->pos(), QPoint(9, 286));
    EXPECT_TRUE(splash.Label1->font().bold());
    // The picture is drawn, not blank.
    const QImage picture = splash.Image1->pixmap().toImage();
    EXPECT_NE(picture.pixelColor(10, 10), picture.pixelColor(500, 290));

    // A window system that never paints it: the wait lasts its whole bound asleep in the event
    // loop, so it costs next to no processor time (a loop that polled would burn it all).
    TSplashF unseen(TSplashF::Mode::StartUp);
    struct NoPaint : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            return event->type() == QEvent::Paint;
        }
    } noPaint;
    unseen.Image1->installEventFilter(&noPaint); // the last filter installed runs first
    const auto processorMs = [] {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
    };
    const double before = processorMs();
    unseen.ShowAndWaitForPaint(2000);
    const double spent = processorMs() - before;
    EXPECT_FALSE(unseen.Painted());
    EXPECT_LT(spent, 250.0) << "the wait for the first paint used the processor for " << spent
                            << " ms of its 2000";
    unseen.hide();

    QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&splash, &key);
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(50, 50), QPointF(50, 50), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(splash.Image1, &click);
    EXPECT_TRUE(splash.isVisible());

    TSplashF about(TSplashF::Mode::About);
    QTimer::singleShot(0, &about, [&about] {
        QKeyEvent any(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
        QApplication::sendEvent(&about, &any);
    });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    TSplashF clicked(TSplashF::Mode::About);
    QTimer::singleShot(0, &clicked, [&clicked] {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(clicked.Image1, &press);
    });
    EXPECT_EQ(clicked.exec(), QDialog::Accepted);
}

} // namespace
