// The configuration dialog: how it starts from the settings, its checks in order with their focus,
// what OK stores and writes and what Cancel leaves, the hot-key field's rules, the folder chooser,
// and the main window's three ways of opening it.

#include "dialogs/TFormConfiguracao.h"
#include "dialogs/TFormSelecionaPasta.h"
#include "dialogs/THotKey.h"
#include "platform/core/AppFolder.h"
#include "platform/vfw/CompressorChooser.h"
#include "shared/Configuracoes.h"
#include "shared/CoresImagem.h"
#include "tests/app/AppTestSupport.h"
#include "tests/dialogs/OnModal.h"
#include "ui/ErrorRoute.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <functional>

using namespace qdx;
using namespace qdx::test;

namespace {

void press(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent down(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &up);
}

class Configuracao : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        pictures = path(QStringLiteral("fotos"));
        films = path(QStringLiteral("filmes"));
        ASSERT_TRUE(QDir().mkpath(pictures));
        ASSERT_TRUE(QDir().mkpath(films));
    }
    std::unique_ptr<TFormConfiguracao> dialog() {
        return std::make_unique<TFormConfiguracao>(form.get(), form->PecasConfiguracao());
    }
    QString configPath() const { return path(QStringLiteral("config.ini")); }
    QString pictures, films;
};

} // namespace

TEST_F(Configuracao, StartsFromTheSettingsAsStored) {
    // Hand-edited values: small letters, a plural colour name that the list does not hold, a
    // type in capitals, a rate outside the field's range, automatic saving of pictures off.
    ASSERT_TRUE(writeAll(configPath(), "[configuracoes]\n"
                                       "salvar_automaticamente=0\n"
                                       "mostrar_banner=0\n"
                                       "tipo_arquivo_padrao=*.GIF\n"
                                       "numero_cores=256 colors\n"
                                       "comando_captura_tela=ctrl+alt+c\n"
                                       "salvar_automaticamente_video=1\n"
                                       "tipo_arquivo_video_padrao=*.mp4\n"
                                       "numero_cores_video=(32 bits)\n"
                                       "numero_quadros_por_milisegundo=0x0A\n"
                                       "compactar_video=0\n"
                                       "comando_captura_video=\n"
                                       "nome_arquivo_video_padrao=Filme\n"));
    CarregarConfiguracoes();
    caminho_padrao = pictures + u'/';
    auto d = dialog();

    EXPECT_EQ(d->windowTitle(), QStringLiteral("Configurations"));
    // 719 x 337, grown where its texts need more (WindowsFit checks that they get it); fixed.
    EXPECT_EQ(d->size(), QSize(719, 337).expandedTo(d->sizeHint()));
    EXPECT_EQ(d->minimumSize(), d->maximumSize());
    EXPECT_EQ(d->GroupBoxImagens->title(), QStringLiteral("&Configurations"));
    EXPECT_EQ(d->GroupBoxVideo->title(), QStringLiteral("Configurations for AVI movie recording"));
    EXPECT_FALSE(d->CheckBoxBanner->isChecked());
    EXPECT_FALSE(d->CheckBoxSalvarArquivo->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{
             d->LabelExtensao, d->ComboBoxExtensao, d->EditCaminho, d->SpeedButton1,
             d->EditNomeArquivo, d->SpeedButtonNomeArquivo})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(d->ComboBoxCores->isEnabled());
    EXPECT_EQ(d->ComboBoxExtensao->currentText(), QStringLiteral("*.gif"));
    EXPECT_EQ(d->EditCaminho->text(), pictures + u'/');
    EXPECT_TRUE(d->EditCaminho->isReadOnly());
    EXPECT_EQ(d->EditNomeArquivo->text(), QStringLiteral("Image%1"));
    EXPECT_EQ(d->ComboBoxCores->currentIndex(), -1);
    EXPECT_EQ(d->ComboBoxCores->count(), 6);
    EXPECT_EQ(d->HotKey->text(), QStringLiteral("Ctrl+Alt+C"));
    EXPECT_TRUE(d->CheckBoxSalvarVideo->isChecked());
    EXPECT_TRUE(d->EditNomeVideo->isEnabled());
    EXPECT_EQ(d->ComboBoxExtensaoVideo->currentIndex(), -1);
    EXPECT_EQ(d->EditNomeVideo->text(), QStringLiteral("Filme"));
    EXPECT_EQ(d->ComboBoxCoresVideo->currentText(), QStringLiteral("(32 bits)"));
    EXPECT_EQ(d->SpinEditNumeroQuadros->value(), 10);
    EXPECT_EQ(d->SpinEditNumeroQuadros->maximum(), 100);
    EXPECT_FALSE(d->CheckBoxCompactar->isChecked());
    EXPECT_EQ(d->HotKeyVideo->HotKey(), 0);
    // Fields are named by their labels for assistive tools.
    EXPECT_EQ(d->ComboBoxCores->accessibleName(), QStringLiteral("Number of colors"));
    EXPECT_EQ(d->HotKeyVideo->accessibleName(), QStringLiteral("Command to video capture."));
    EXPECT_EQ(d->SpeedButton2->toolTip(), QStringLiteral("Restore standard"));

    // The box switches its whole panel; "..." restores the standard names.
    d->CheckBoxSalvarArquivo->click();
    EXPECT_TRUE(d->EditNomeArquivo->isEnabled());
    d->EditNomeArquivo->setText(QStringLiteral("x"));
    d->SpeedButtonNomeArquivo->click();
    EXPECT_EQ(d->EditNomeArquivo->text(), QStringLiteral("Image%1"));
    d->SpeedButton2->click();
    EXPECT_EQ(d->EditNomeVideo->text(), QStringLiteral("Video%1"));
    d->CheckBoxSalvarVideo->click();
    EXPECT_FALSE(d->SpeedButton3->isEnabled());
}

// Each failing check in its turn: the message, the focus only on an enabled control, and the
// checks of a disabled panel still apply.
TEST_F(Configuracao, ChecksInOrderWithTheirFocus) {
    auto d = dialog();
    d->show();
    d->CheckBoxSalvarArquivo->setChecked(false);
    d->CheckBoxSalvarArquivoClick();
    d->ComboBoxExtensao->setCurrentIndex(-1);
    d->EditCaminho->setText(path(QStringLiteral("gone")));
    d->EditNomeArquivo->setText(QStringLiteral("%2"));
    d->ComboBoxCores->setCurrentIndex(-1);
    d->HotKey->SetHotKey(0);
    d->ComboBoxExtensaoVideo->setCurrentIndex(-1);
    d->EditCaminhoVideo->setText(QString());
    d->EditNomeVideo->setText(QStringLiteral("Video"));
    d->ComboBoxCoresVideo->setCurrentIndex(-1);
    d->HotKeyVideo->SetHotKey(0); // never checked
    d->CheckBoxSalvarVideo->setChecked(true);
    d->CheckBoxSalvarVideoClick();

    const QString folder = QStringLiteral("Selects a folder valid! !");
    const QString numbering = QStringLiteral(
        "The name of the archive must contain string %1 for numeration of archives!");
    const QString colours = QStringLiteral("Select the resolution of the image!");
    struct Step {
        QString message;
        QWidget* focus; // nullptr: the control is disabled and keeps no focus
        std::function<void()> fix;
    };
    const std::vector<Step> steps = {
        {QStringLiteral("Selects an extension for the archives."), nullptr,
         [&] {
             d->ComboBoxExtensao->setCurrentIndex(2);
         }},
        {folder, nullptr,
         [&] {
             d->EditCaminho->setText(pictures);
         }},
        {numbering, nullptr,
         [&] {
             d->EditNomeArquivo->setText(QStringLiteral("Shot-%1-day"));
         }},
        {colours, d->ComboBoxCores,
         [&] {
             d->ComboBoxCores->setCurrentIndex(0);
         }},
        {QStringLiteral("Select the command to use when it will be to capture an image!"),
         d->HotKey,
         [&] {
             press(d->HotKey, Qt::Key_F5);
         }},
        {QStringLiteral("Select the file format!"), d->ComboBoxExtensaoVideo,
         [&] {
             d->ComboBoxExtensaoVideo->setCurrentIndex(0);
             d->CheckBoxSalvarVideo->click(); // the films' panel off from here on
         }},
        {folder, nullptr,
         [&] {
             d->EditCaminhoVideo->setText(films + u'/');
         }},
        {numbering, nullptr,
         [&] {
             d->EditNomeVideo->setText(QStringLiteral("V%1"));
         }},
        {colours, d->ComboBoxCoresVideo,
         [&] {
             d->ComboBoxCoresVideo->setCurrentIndex(5);
         }},
    };
    for (const Step& step : steps) {
        prompts.asked.clear();
        d->SpeedButtonCancelar->setFocus();
        ASSERT_EQ(d->focusWidget(), d->SpeedButtonCancelar);
        EXPECT_FALSE(d->ValidarCampos());
        ASSERT_EQ(prompts.texts(QStringLiteral("error")), QStringList{step.message});
        EXPECT_EQ(prompts.asked.back().caption, QStringLiteral("Quadrix"));
        EXPECT_EQ(d->focusWidget(), step.focus ? step.focus : d->SpeedButtonCancelar)
            << step.message.toStdString();
        step.fix();
    }
    prompts.asked.clear();
    EXPECT_TRUE(d->ValidarCampos());
    EXPECT_TRUE(prompts.asked.empty());
    // A failed OK stored and wrote nothing.
    EXPECT_FALSE(QFile::exists(configPath()));
    EXPECT_EQ(nome_arquivo_padrao, QStringLiteral("Image%1"));
}

TEST_F(Configuracao, HotKeyFieldRules) {
    THotKey field;
    const auto value = [&](int key, Qt::KeyboardModifiers modifiers) {
        press(&field, key, modifiers);
        return field.text();
    };
    EXPECT_EQ(value(Qt::Key_F5, Qt::NoModifier), QStringLiteral("Ctrl+Alt+F5"));
    EXPECT_EQ(field.HotKey(), 0xC074);
    EXPECT_EQ(value(Qt::Key_K, Qt::ShiftModifier), QStringLiteral("Ctrl+Alt+K"));
    EXPECT_EQ(value(Qt::Key_K, Qt::ShiftModifier | Qt::ControlModifier),
              QStringLiteral("Shift+Ctrl+K"));
    EXPECT_EQ(value(Qt::Key_1, Qt::AltModifier), QStringLiteral("Alt+1"));
    EXPECT_EQ(value(Qt::Key_5, Qt::ControlModifier | Qt::KeypadModifier), QStringLiteral("Ctrl+5"));
    EXPECT_EQ(field.HotKey(), 0x4065); // the keypad key, written like the digit
    EXPECT_EQ(value(Qt::Key_PageUp, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier),
              QStringLiteral("Shift+Ctrl+Alt+PgUp"));
    EXPECT_EQ(value(Qt::Key_Space, Qt::NoModifier), QStringLiteral("Ctrl+Alt+Space"));
    // Shift with a digit or punctuation key arrives as the symbol it types: the key is named.
    EXPECT_EQ(value(Qt::Key_Exclam, Qt::ShiftModifier | Qt::ControlModifier),
              QStringLiteral("Shift+Ctrl+1"));
    EXPECT_EQ(field.HotKey(), 0x6031);
    EXPECT_EQ(value(Qt::Key_Question, Qt::ShiftModifier | Qt::AltModifier),
              QStringLiteral("Shift+Alt+slash"));
    EXPECT_EQ(value(Qt::Key_ParenRight, Qt::ShiftModifier), QStringLiteral("Ctrl+Alt+0"));
    // The keyboard map's key wins over the US keyboard's (a layout with '!' on another key).
    EXPECT_EQ(THotKey::valueOfKeyPress(Qt::Key_Exclam, Qt::ShiftModifier | Qt::ControlModifier,
                                       0x21, 0x38),
              0x6038);
    EXPECT_EQ(value(Qt::Key_Space, Qt::NoModifier), QStringLiteral("Ctrl+Alt+Space"));
    // Tab, Esc and Enter alone are the dialog's.
    for (int key : {Qt::Key_Tab, Qt::Key_Escape, Qt::Key_Return}) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&field, &down);
        EXPECT_FALSE(down.isAccepted());
    }
    EXPECT_EQ(field.text(), QStringLiteral("Ctrl+Alt+Space"));
    // Held modifiers show while a combination is typed; releasing them shows the value again.
    QKeyEvent ctrl(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    QApplication::sendEvent(&field, &ctrl);
    EXPECT_EQ(field.text(), QStringLiteral("Ctrl+"));
    QKeyEvent released(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
    QApplication::sendEvent(&field, &released);
    EXPECT_EQ(field.text(), QStringLiteral("Ctrl+Alt+Space"));
    // Typed text and Backspace: the field empties.
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&field, &letter);
    EXPECT_EQ(field.text(), QStringLiteral("Ctrl+Alt+A"));
    press(&field, Qt::Key_Backspace);
    EXPECT_EQ(field.HotKey(), 0);
    EXPECT_TRUE(field.text().isEmpty());
}

// OK from the menu entry: memory, the capture entries' shortcut, the eighteen keys in their order
// (the compressor of recordings chosen through the compressor dialog), the banner switched off;
// Cancel from the tool button and the tray leaves everything.
TEST_F(Configuracao, OkStoresAndWritesEveryKeyInOrder) {
    AVICOMPRESSOPTIONS mjpeg =
        qdx::vfw::defaultOptions(*qdx::vfw::findCompressor(mmioFOURCC('M', 'J', 'P', 'G')));
    mjpeg.dwQuality = 7000;
    qdx::vfw::PresetCompressorChooser chooser(mjpeg);
    qdx::vfw::CompressorChooser* previousChooser = qdx::vfw::setCompressorChooser(&chooser);
    form->TimerBanner->start();
    form->ToolBarBanner->show();
    const bool seen =
        onModal<TFormConfiguracao>([&] { form->Configuracao->trigger(); },
                                   [&](TFormConfiguracao* d) {
                                       d->CheckBoxSalvarArquivo->setChecked(false);
                                       d->ComboBoxExtensao->setCurrentIndex(2);
                                       d->EditCaminho->setText(pictures);
                                       d->EditNomeArquivo->setText(QStringLiteral("Shot-%1-day"));
                                       d->ComboBoxCores->setCurrentIndex(2);
                                       press(d->HotKey, Qt::Key_F5);
                                       d->CheckBoxSalvarVideo->setChecked(true);
                                       d->EditCaminhoVideo->setText(films + u'/');
                                       d->ComboBoxCoresVideo->setCurrentIndex(0);
                                       d->SpinEditNumeroQuadros->setValue(25);
                                       d->CheckBoxCompactar->setChecked(false);
                                       EXPECT_FALSE(d->CheckBoxCompactarGravacao->isChecked());
                                       d->CheckBoxCompactarGravacao->setChecked(true);
                                       d->ButtonCompressorGravacao->click();
                                       press(d->HotKeyVideo, Qt::Key_Backspace);
                                       d->CheckBoxBanner->setChecked(false);
                                       d->SpeedButtonOK->click();
                                       EXPECT_FALSE(d->isVisible());
                                       EXPECT_EQ(d->result(), QDialog::Accepted);
                                   });
    ASSERT_TRUE(seen);
    EXPECT_TRUE(prompts.asked.empty());
    const QString written = QString::fromUtf8(readAll(configPath()));
    const QString expected = QStringLiteral("[configuracoes]\n"
                                            "salvar_automaticamente=0\n"
                                            "nome_arquivo_padrao=Shot-%1-day\n"
                                            "caminho_padrao=%2\n"
                                            "tipo_arquivo_padrao=*.jpg\n"
                                            "numero_cores=%3\n"
                                            "comando_captura_tela=Ctrl+Alt+F5\n"
                                            "salvar_automaticamente_video=1\n"
                                            "nome_arquivo_video_padrao=Video%1\n"
                                            "caminho_video_padrao=%4/\n"
                                            "tipo_arquivo_video_padrao=*.avi\n"
                                            "numero_cores_video=%5\n"
                                            "numero_quadros_por_milisegundo=25\n"
                                            "compactar_video=0\n"
                                            "compactar_durante_gravacao=1\n"
                                            "compressor_gravacao=MJPG\n"
                                            "qualidade_gravacao=70\n"
                                            "comando_captura_video=\n"
                                            "mostrar_banner=0\n")
                                 .replace(QStringLiteral("%2"), pictures)
                                 .replace(QStringLiteral("%3"), NomesCores()[2])
                                 .replace(QStringLiteral("%4"), films)
                                 .replace(QStringLiteral("%5"), NomesCores()[0]);
    EXPECT_EQ(written, expected);
    EXPECT_FALSE(salvar_automaticamente);
    EXPECT_EQ(caminho_padrao, pictures);
    EXPECT_EQ(numero_quadros_por_milisegundo, 25);
    EXPECT_EQ(comando_captura_tela, QStringLiteral("Ctrl+Alt+F5"));
    EXPECT_TRUE(comando_captura_video.isEmpty());
    EXPECT_TRUE(compactar_durante_gravacao);
    qdx::vfw::setCompressorChooser(previousChooser);
    EXPECT_EQ(chooser.timesAsked(), 1);
    EXPECT_EQ(compressor_gravacao, QStringLiteral("MJPG"));
    // The dialog's work file went with it.
    EXPECT_TRUE(QDir(qdx::applicationFolder()).entryList({QStringLiteral("tmp_*")}).isEmpty());
    EXPECT_FALSE(mostrar_banner);
    EXPECT_EQ(form->Capturartela->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+F5")));
    EXPECT_EQ(form->CapturarTelaPopup->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+F5")));
    EXPECT_FALSE(form->TimerBanner->isActive());
    EXPECT_FALSE(form->ToolBarBanner->isVisible());

    // Cancel, from the tool button and from the tray menu: nothing changes.
    for (const std::function<void()>& open :
         std::vector<std::function<void()>>{[&] { form->ToolButton19->click(); },
                                            [&] {
                                                form->Configuraes2->trigger();
                                            }}) {
        const bool opened = onModal<TFormConfiguracao>(open, [&](TFormConfiguracao* d) {
            EXPECT_EQ(d->EditNomeArquivo->text(), QStringLiteral("Shot-%1-day"));
            EXPECT_FALSE(d->CheckBoxBanner->isChecked());
            d->EditNomeArquivo->setText(QStringLiteral("Other%1"));
            d->CheckBoxBanner->setChecked(true);
            d->SpeedButtonCancelar->click();
            EXPECT_EQ(d->result(), QDialog::Rejected);
        });
        EXPECT_TRUE(opened);
    }
    EXPECT_EQ(nome_arquivo_padrao, QStringLiteral("Shot-%1-day"));
    EXPECT_FALSE(form->TimerBanner->isActive());
    EXPECT_EQ(QString::fromUtf8(readAll(configPath())), expected);

    // Turned on again: the timer runs, the strip waits for the next banner page.
    auto d = dialog();
    d->CheckBoxBanner->setChecked(true);
    d->SpeedButtonOK->click();
    EXPECT_TRUE(form->TimerBanner->isActive());
    EXPECT_FALSE(form->ToolBarBanner->isVisible());
}

// A settings file that refuses the write: the error route gets "Unable to write to <path>" with
// the OK button as origin, memory holds the new values, the banner follows them, the dialog stays.
TEST_F(Configuracao, RefusedWriteReachesTheErrorRoute) {
    ASSERT_TRUE(writeAll(configPath(), "[configuracoes]\nsalvar_automaticamente=1\n"));
    ASSERT_TRUE(QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::ReadGroup));
    QStringList routed;
    QObject* origin = nullptr;
    const auto previous = ui::setExceptionHook([&](QObject* sender, const std::exception& e) {
        routed.append(ui::exceptionText(e));
        origin = sender;
    });
    form->TimerBanner->start();
    auto d = dialog();
    d->show();
    d->EditCaminho->setText(pictures);
    d->EditCaminhoVideo->setText(films);
    d->EditNomeArquivo->setText(QStringLiteral("New%1"));
    d->CheckBoxBanner->setChecked(false);
    d->SpeedButtonOK->click();
    ui::setExceptionHook(previous);

    EXPECT_EQ(routed, QStringList{QStringLiteral("Unable to write to ") + configPath()});
    EXPECT_EQ(origin, d->SpeedButtonOK);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(nome_arquivo_padrao, QStringLiteral("New%1"));
    EXPECT_FALSE(form->TimerBanner->isActive());
    EXPECT_EQ(readAll(configPath()), QByteArray("[configuracoes]\nsalvar_automaticamente=1\n"));
}

TEST_F(Configuracao, FolderChooserStartsAtTheFieldAndFillsIt) {
    const QString inner = pictures + QStringLiteral("/dia 1");
    ASSERT_TRUE(QDir().mkpath(inner));
    const QStringList drives = TFormSelecionaPasta::Drives();
    ASSERT_GE(drives.size(), 2);
    EXPECT_EQ(drives[0], QStringLiteral("/"));
    EXPECT_EQ(drives[1], QDir::homePath());
    EXPECT_EQ(TFormSelecionaPasta::DriveOf(
                  QStringLiteral("/home/ana/x"),
                  {QStringLiteral("/"), QStringLiteral("/home/ana"), QStringLiteral("/home/an")}),
              QStringLiteral("/home/ana"));

    QLineEdit target;
    target.setText(pictures + u'/');
    {
        TFormSelecionaPasta chooser(&target);
        EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Select folder"));
        EXPECT_EQ(chooser.size(), QSize(233, 274));
        EXPECT_EQ(chooser.Directory(), pictures);
        EXPECT_EQ(chooser.DriveComboBox->currentText(),
                  TFormSelecionaPasta::DriveOf(pictures, drives));
        chooser.SetDirectory(inner);
        chooser.SpeedButtonOK->click();
        EXPECT_EQ(target.text(), inner);
        EXPECT_EQ(chooser.result(), QDialog::Accepted);
    }
    {
        // A folder removed while the chooser is open.
        TFormSelecionaPasta chooser(&target);
        EXPECT_EQ(chooser.Directory(), inner);
        ASSERT_TRUE(QDir(inner).removeRecursively());
        chooser.SpeedButtonOK->click();
        EXPECT_EQ(prompts.texts(QStringLiteral("error")),
                  QStringList{QStringLiteral("Directory does not exist!")});
        EXPECT_EQ(target.text(), inner);
        // Another drive: the tree shows its root, and OK gives the root as it is.
        chooser.DriveComboBox->setCurrentIndex(0);
        chooser.DriveComboBoxChange();
        EXPECT_EQ(chooser.Directory(), QStringLiteral("/"));
        chooser.SpeedButtonOK->click();
        EXPECT_EQ(target.text(), QStringLiteral("/"));
    }
    // A field whose folder is gone starts at the root; Cancel leaves the field.
    target.setText(path(QStringLiteral("nowhere")));
    TFormSelecionaPasta chooser(&target);
    EXPECT_EQ(chooser.Directory(), QStringLiteral("/"));
    chooser.SpeedButtonCancelar->click();
    EXPECT_EQ(target.text(), path(QStringLiteral("nowhere")));
}
