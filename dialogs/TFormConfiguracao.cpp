#include "dialogs/TFormConfiguracao.h"

#include "avi/TAviCapture.h"
#include "dialogs/TFormSelecionaPasta.h"
#include "dialogs/THotKey.h"
#include "platform/core/AppFolder.h"
#include "platform/core/Exception.h"
#include "shared/Configuracoes.h"
#include "shared/ConfiguracoesVideo.h"
#include "shared/CoresImagem.h"
#include "shared/Mensagens.h"
#include "shared/ShortcutText.h"
#include "ui/ErrorRoute.h"
#include "ui/ShortcutKeys.h"
#include "ui/THotKeyManager.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kNomePadraoImagem = QStringLiteral("Image%1");
const QString kNomePadraoVideo = QStringLiteral("Video%1");

// Selects the item equal to `text` without regard to letter case; none when no item is equal.
void selecionar(QComboBox* combo, const QString& text) {
    combo->setCurrentIndex(combo->findText(text, Qt::MatchFixedString));
}

QLabel* rotulo(const char* name, const QString& caption, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setBuddy(buddy);
    buddy->setAccessibleName(caption);
    return label;
}

QToolButton* botao(const char* name, const QString& accessibleName, const QString& hint,
                   QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(QStringLiteral("..."));
    button->setAccessibleName(accessibleName);
    if (!hint.isEmpty())
        button->setToolTip(hint);
    return button;
}

QComboBox* lista(const char* name, const QStringList& items, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    return combo;
}

QLineEdit* campo(const char* name, bool readOnly, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setReadOnly(readOnly);
    return edit;
}

} // namespace

TFormConfiguracao::TFormConfiguracao(QWidget* parent, const TJanelaPrincipal& Principal)
    : QDialog(parent), m_principal(Principal) {
    setObjectName(QStringLiteral("FormConfiguracao"));
    setWindowTitle(QStringLiteral("Configurations"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    buildPictures();
    buildFilms();

    CheckBoxBanner = new QCheckBox(QStringLiteral("Show banner in the main form."), this);
    CheckBoxBanner->setObjectName(QStringLiteral("CheckBoxBanner"));
    SpeedButtonOK = new QPushButton(QStringLiteral("&OK"), this);
    SpeedButtonOK->setObjectName(QStringLiteral("SpeedButtonOK"));
    SpeedButtonOK->setAutoDefault(false);
    SpeedButtonCancelar = new QPushButton(QStringLiteral("&Cancel"), this);
    SpeedButtonCancelar->setObjectName(QStringLiteral("SpeedButtonCancelar"));
    SpeedButtonCancelar->setAutoDefault(false);

    auto* groups = new QHBoxLayout;
    groups->addWidget(GroupBoxImagens, 1);
    groups->addWidget(GroupBoxVideo, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(CheckBoxBanner);
    bottom->addStretch(1);
    bottom->addWidget(SpeedButtonOK);
    bottom->addWidget(SpeedButtonCancelar);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups, 1);
    layout->addLayout(bottom);
    // 719 x 337, or larger where the texts need it (a large font, another scale).
    setFixedSize(QSize(719, 337).expandedTo(sizeHint()));

    // Errors of the handlers reach the program's error route with the control as their origin.
    using F = TFormConfiguracao;
    const auto handle = [this](QAbstractButton* button, void (F::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                qdx::ui::guarded(button, [this, handler](bool) { (this->*handler)(); }));
    };
    handle(SpeedButtonOK, &F::SpeedButtonOKClick);
    handle(SpeedButtonCancelar, &F::SpeedButtonCancelarClick);
    handle(CheckBoxSalvarArquivo, &F::CheckBoxSalvarArquivoClick);
    handle(CheckBoxSalvarVideo, &F::CheckBoxSalvarVideoClick);
    handle(SpeedButtonNomeArquivo, &F::SpeedButtonNomeArquivoClick);
    handle(SpeedButton2, &F::SpeedButton2Click);
    handle(SpeedButton1, &F::SpeedButton1Click);
    handle(SpeedButton3, &F::SpeedButton3Click);
    handle(ButtonCompressorGravacao, &F::ButtonCompressorGravacaoClick);

    FormCreate();
}

void TFormConfiguracao::buildPictures() {
    GroupBoxImagens = new QGroupBox(QStringLiteral("&Configurations"), this);
    GroupBoxImagens->setObjectName(QStringLiteral("GroupBoxImagens"));
    QWidget* g = GroupBoxImagens;
    CheckBoxSalvarArquivo = new QCheckBox(QStringLiteral("&Save automatically"), g);
    CheckBoxSalvarArquivo->setObjectName(QStringLiteral("CheckBoxSalvarArquivo"));

    PanelSalvar = new QWidget(g);
    PanelSalvar->setObjectName(QStringLiteral("PanelSalvar"));
    QWidget* p = PanelSalvar;
    ComboBoxExtensao = lista("ComboBoxExtensao",
                             {QStringLiteral("*.bmp"), QStringLiteral("*.gif"),
                              QStringLiteral("*.jpg"), QStringLiteral("*.wmf")},
                             p);
    LabelExtensao = rotulo("LabelExtensao", QStringLiteral("Save as"), ComboBoxExtensao, p);
    EditCaminho = campo("EditCaminho", true, p);
    LabelCaminho = rotulo("LabelCaminho", QStringLiteral("Save on folder"), EditCaminho, p);
    SpeedButton1 = botao("SpeedButton1", QStringLiteral("Select the folder of pictures"), {}, p);
    EditNomeArquivo = campo("EditNomeArquivo", false, p);
    LabelNomeArquivo = rotulo("LabelNomeArquivo", QStringLiteral("File name"), EditNomeArquivo, p);
    SpeedButtonNomeArquivo = botao("SpeedButtonNomeArquivo", QStringLiteral("Restore standard"),
                                   QStringLiteral("Restore standard"), p);
    auto* panel = new QGridLayout(p);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(LabelExtensao, 0, 0);
    panel->addWidget(ComboBoxExtensao, 0, 1, 1, 2);
    panel->addWidget(LabelCaminho, 1, 0);
    panel->addWidget(EditCaminho, 1, 1);
    panel->addWidget(SpeedButton1, 1, 2);
    panel->addWidget(LabelNomeArquivo, 2, 0);
    panel->addWidget(EditNomeArquivo, 2, 1);
    panel->addWidget(SpeedButtonNomeArquivo, 2, 2);
    panel->setColumnStretch(1, 1);

    ComboBoxCores = lista("ComboBoxCores", NomesCores(), g);
    LabelCores = rotulo("LabelCores", QStringLiteral("Number of colors"), ComboBoxCores, g);
    HotKey = new THotKey(g);
    HotKey->setObjectName(QStringLiteral("HotKey"));
    LabelHotKey = rotulo("LabelHotKey", QStringLiteral("Command to screen capture"), HotKey, g);

    auto* group = new QGridLayout(g);
    group->addWidget(CheckBoxSalvarArquivo, 0, 0, 1, 2);
    group->addWidget(PanelSalvar, 1, 0, 1, 2);
    group->addWidget(LabelCores, 2, 0);
    group->addWidget(ComboBoxCores, 2, 1);
    group->addWidget(LabelHotKey, 3, 0);
    group->addWidget(HotKey, 3, 1);
    group->setColumnStretch(1, 1);
    group->setRowStretch(4, 1);
}

void TFormConfiguracao::buildFilms() {
    GroupBoxVideo = new QGroupBox(QStringLiteral("Configurations for AVI movie recording"), this);
    GroupBoxVideo->setObjectName(QStringLiteral("GroupBoxVideo"));
    QWidget* g = GroupBoxVideo;
    CheckBoxSalvarVideo = new QCheckBox(QStringLiteral("&Save automatically"), g);
    CheckBoxSalvarVideo->setObjectName(QStringLiteral("CheckBoxSalvarVideo"));

    PanelSalvarVideo = new QWidget(g);
    PanelSalvarVideo->setObjectName(QStringLiteral("PanelSalvarVideo"));
    QWidget* p = PanelSalvarVideo;
    ComboBoxExtensaoVideo = lista("ComboBoxExtensaoVideo", {QStringLiteral("*.avi")}, p);
    LabelExtensaoVideo =
        rotulo("LabelExtensaoVideo", QStringLiteral("Save as"), ComboBoxExtensaoVideo, p);
    EditCaminhoVideo = campo("EditCaminhoVideo", true, p);
    LabelCaminhoVideo =
        rotulo("LabelCaminhoVideo", QStringLiteral("Save on folder"), EditCaminhoVideo, p);
    SpeedButton3 = botao("SpeedButton3", QStringLiteral("Select the folder of films"), {}, p);
    EditNomeVideo = campo("EditNomeVideo", false, p);
    LabelNomeVideo = rotulo("LabelNomeVideo", QStringLiteral("File Name"), EditNomeVideo, p);
    SpeedButton2 = botao("SpeedButton2", QStringLiteral("Restore standard"),
                         QStringLiteral("Restore standard"), p);
    auto* panel = new QGridLayout(p);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(LabelExtensaoVideo, 0, 0);
    panel->addWidget(ComboBoxExtensaoVideo, 0, 1, 1, 2);
    panel->addWidget(LabelCaminhoVideo, 1, 0);
    panel->addWidget(EditCaminhoVideo, 1, 1);
    panel->addWidget(SpeedButton3, 1, 2);
    panel->addWidget(LabelNomeVideo, 2, 0);
    panel->addWidget(EditNomeVideo, 2, 1);
    panel->addWidget(SpeedButton2, 2, 2);
    panel->setColumnStretch(1, 1);

    ComboBoxCoresVideo = lista("ComboBoxCoresVideo", NomesCores(), g);
    LabelCoresVideo =
        rotulo("LabelCoresVideo", QStringLiteral("Color numbers"), ComboBoxCoresVideo, g);
    HotKeyVideo = new THotKey(g);
    HotKeyVideo->setObjectName(QStringLiteral("HotKeyVideo"));
    LabelHotKeyVideo =
        rotulo("LabelHotKeyVideo", QStringLiteral("Command to video capture."), HotKeyVideo, g);
    SpinEditNumeroQuadros = new QSpinBox(g);
    SpinEditNumeroQuadros->setObjectName(QStringLiteral("SpinEditNumeroQuadros"));
    SpinEditNumeroQuadros->setRange(1, 100);
    LabelNumeroQuadros =
        rotulo("LabelNumeroQuadros", QStringLiteral("Frames/seconds"), SpinEditNumeroQuadros, g);
    CheckBoxCompactar = new QCheckBox(QStringLiteral("&Compress file"), g);
    CheckBoxCompactar->setObjectName(QStringLiteral("CheckBoxCompactar"));
    CheckBoxCompactarGravacao = new QCheckBox(QStringLiteral("Compress &while recording"), g);
    CheckBoxCompactarGravacao->setObjectName(QStringLiteral("CheckBoxCompactarGravacao"));
    ButtonCompressorGravacao = new QPushButton(QStringLiteral("C&ompressor..."), g);
    ButtonCompressorGravacao->setObjectName(QStringLiteral("ButtonCompressorGravacao"));

    auto* group = new QGridLayout(g);
    group->addWidget(CheckBoxSalvarVideo, 0, 0, 1, 2);
    group->addWidget(PanelSalvarVideo, 1, 0, 1, 2);
    group->addWidget(LabelCoresVideo, 2, 0);
    group->addWidget(ComboBoxCoresVideo, 2, 1);
    group->addWidget(LabelHotKeyVideo, 3, 0);
    group->addWidget(HotKeyVideo, 3, 1);
    group->addWidget(LabelNumeroQuadros, 4, 0);
    group->addWidget(SpinEditNumeroQuadros, 4, 1);
    group->addWidget(CheckBoxCompactar, 5, 0, 1, 2);
    group->addWidget(CheckBoxCompactarGravacao, 6, 0);
    group->addWidget(ButtonCompressorGravacao, 6, 1, Qt::AlignLeft);
    group->setColumnStretch(1, 1);
    group->setRowStretch(7, 1);
}

void TFormConfiguracao::FormCreate() {
    CheckBoxBanner->setChecked(mostrar_banner);
    CheckBoxSalvarArquivo->setChecked(salvar_automaticamente);
    CheckBoxSalvarArquivoClick();
    selecionar(ComboBoxExtensao, tipo_arquivo_padrao);
    EditCaminho->setText(caminho_padrao);
    EditNomeArquivo->setText(nome_arquivo_padrao);
    selecionar(ComboBoxCores, numero_cores);
    HotKey->SetHotKey(TextToShortCut(comando_captura_tela));

    CheckBoxSalvarVideo->setChecked(salvar_automaticamente_video);
    CheckBoxSalvarVideoClick();
    selecionar(ComboBoxExtensaoVideo, tipo_arquivo_video_padrao);
    EditCaminhoVideo->setText(caminho_video_padrao);
    EditNomeVideo->setText(nome_arquivo_video_padrao);
    selecionar(ComboBoxCoresVideo, numero_cores_video);
    SpinEditNumeroQuadros->setValue(numero_quadros_por_milisegundo);
    CheckBoxCompactar->setChecked(compactar_video);
    CheckBoxCompactarGravacao->setChecked(compactar_durante_gravacao);
    m_compressorGravacao = compressor_gravacao;
    m_qualidadeGravacao = qualidade_gravacao;
    HotKeyVideo->SetHotKey(TextToShortCut(comando_captura_video));
}

void TFormConfiguracao::CheckBoxSalvarArquivoClick() {
    PanelSalvar->setEnabled(CheckBoxSalvarArquivo->isChecked());
}

void TFormConfiguracao::CheckBoxSalvarVideoClick() {
    PanelSalvarVideo->setEnabled(CheckBoxSalvarVideo->isChecked());
}

void TFormConfiguracao::SpeedButtonNomeArquivoClick() {
    EditNomeArquivo->setText(kNomePadraoImagem);
}

void TFormConfiguracao::SpeedButton2Click() {
    EditNomeVideo->setText(kNomePadraoVideo);
}

void TFormConfiguracao::SelecionarPasta(QLineEdit* Destino) {
    TFormSelecionaPasta chooser(Destino, this);
    chooser.exec();
}

void TFormConfiguracao::SpeedButton1Click() {
    SelecionarPasta(EditCaminho);
}

void TFormConfiguracao::SpeedButton3Click() {
    SelecionarPasta(EditCaminhoVideo);
}

void TFormConfiguracao::ButtonCompressorGravacaoClick() {
    // The compressor dialog asks about a video stream: an empty one, in a work file that goes at
    // once, stands for the recording. There is no frame yet, so no preview.
    TAviCapture engine;
    engine.CompressWhileRecording = true;
    const QString work =
        qdx::applicationFolder() + TAviCapture::NewTempName() + QStringLiteral(".avi");
    qdx::vfw::LibraryScope library;
    PAVIFILE file = nullptr;
    if (AVIFileOpen(&file, work, OF_CREATE | OF_WRITE) != AVIERR_OK)
        throw qdx::Exception(QStringLiteral("Falha ao criar/abir arquivo AVI."));
    qdx::vfw::FileHandle fileHolder(file);
    AVISTREAMINFO header;
    header.fccType = streamtypeVIDEO;
    header.dwScale = 1;
    header.dwRate = DWORD(std::max(1, SpinEditNumeroQuadros->value()));
    PAVISTREAM stream = nullptr;
    const bool created = AVIFileCreateStream(file, &stream, &header) == AVIERR_OK;
    qdx::vfw::StreamHandle streamHolder(created ? stream : nullptr);
    AplicarCompactacaoGravacao(engine); // the stored choice, as the dialog's start
    AVICOMPRESSOPTIONS options = engine.LiveCompressor;
    AVICOMPRESSOPTIONS* chosen[] = {&options};
    const bool accepted =
        created && AVISaveOptions(nullptr, ICMF_CHOOSE_KEYFRAME, 1, &stream, chosen);
    streamHolder.reset();
    fileHolder.reset();
    QFile::remove(work);
    if (!accepted)
        return;
    QString fourcc;
    for (int i = 0; i < 4; ++i)
        fourcc += QLatin1Char(char((options.fccHandler >> (8 * i)) & 0xFF));
    m_compressorGravacao = fourcc.trimmed();
    m_qualidadeGravacao = options.dwQuality <= 10000 ? int(options.dwQuality / 100) : -1;
}

bool TFormConfiguracao::ValidarCampos() {
    const QString semPasta = QStringLiteral("Selects a folder valid! !");
    const QString semNumeracao = QStringLiteral(
        "The name of the archive must contain string %1 for numeration of archives!");
    const QString semCores = QStringLiteral("Select the resolution of the image!");
    const auto pasta = [](const QLineEdit* edit) {
        return QFileInfo(edit->text()).isDir();
    };
    const auto numerado = [](const QLineEdit* edit) {
        return edit->text().contains(QStringLiteral("%1"));
    };
    struct Check {
        bool passes;
        QString message;
        QWidget* control;
    };
    const Check checks[] = {
        {ComboBoxExtensao->currentIndex() >= 0,
         QStringLiteral("Selects an extension for the archives."), ComboBoxExtensao},
        {pasta(EditCaminho), semPasta, EditCaminho},
        {numerado(EditNomeArquivo), semNumeracao, EditNomeArquivo},
        {ComboBoxCores->currentIndex() >= 0, semCores, ComboBoxCores},
        {HotKey->HotKey() != 0,
         QStringLiteral("Select the command to use when it will be to capture an image!"), HotKey},
        {ComboBoxExtensaoVideo->currentIndex() >= 0, QStringLiteral("Select the file format!"),
         ComboBoxExtensaoVideo},
        {pasta(EditCaminhoVideo), semPasta, EditCaminhoVideo},
        {numerado(EditNomeVideo), semNumeracao, EditNomeVideo},
        {ComboBoxCoresVideo->currentIndex() >= 0, semCores, ComboBoxCoresVideo},
    };
    for (const Check& check : checks) {
        if (check.passes)
            continue;
        MensagemErro(check.message);
        if (check.control->isEnabled())
            check.control->setFocus(Qt::OtherFocusReason);
        return false;
    }
    return true;
}

void TFormConfiguracao::SpeedButtonOKClick() {
    if (!ValidarCampos())
        return;

    salvar_automaticamente = CheckBoxSalvarArquivo->isChecked();
    nome_arquivo_padrao = EditNomeArquivo->text();
    caminho_padrao = EditCaminho->text();
    tipo_arquivo_padrao = ComboBoxExtensao->currentText();
    numero_cores = ComboBoxCores->currentText();
    salvar_automaticamente_video = CheckBoxSalvarVideo->isChecked();
    nome_arquivo_video_padrao = EditNomeVideo->text();
    caminho_video_padrao = EditCaminhoVideo->text();
    tipo_arquivo_video_padrao = ComboBoxExtensaoVideo->currentText();
    numero_cores_video = ComboBoxCoresVideo->currentText();
    numero_quadros_por_milisegundo = SpinEditNumeroQuadros->value();
    compactar_video = CheckBoxCompactar->isChecked();
    compactar_durante_gravacao = CheckBoxCompactarGravacao->isChecked();
    compressor_gravacao = m_compressorGravacao;
    qualidade_gravacao = m_qualidadeGravacao;

    // The capture hot key follows at once. A combination another program holds leaves no
    // registration (id 0), silently; the menus and the stored text still take the new key.
    const uint16_t captura = HotKey->HotKey();
    if (m_principal.HotKeyManager && m_principal.IdHotKeyCaptura) {
        uint16_t& id = *m_principal.IdHotKeyCaptura;
        // Without a registration (refused at start) there is nothing to replace: register anew.
        id = id != 0 ? m_principal.HotKeyManager->ReplaceShortCut(id, captura)
                     : m_principal.HotKeyManager->RegisterShortCut(captura);
    }
    for (QAction* entry : {m_principal.Capturartela, m_principal.CapturarTelaPopup})
        if (entry)
            entry->setShortcut(keySequenceOf(captura));
    comando_captura_tela = ShortCutToText(captura);
    // The recorder key of the running program stays; the new one counts at the next start.
    comando_captura_video = ShortCutToText(HotKeyVideo->HotKey());
    mostrar_banner = CheckBoxBanner->isChecked();

    try {
        GravarBooleano(QStringLiteral("salvar_automaticamente"), salvar_automaticamente);
        GravarTexto(QStringLiteral("nome_arquivo_padrao"), nome_arquivo_padrao);
        GravarTexto(QStringLiteral("caminho_padrao"), caminho_padrao);
        GravarTexto(QStringLiteral("tipo_arquivo_padrao"), tipo_arquivo_padrao);
        GravarTexto(QStringLiteral("numero_cores"), numero_cores);
        GravarTexto(QStringLiteral("comando_captura_tela"), comando_captura_tela);
        GravarBooleano(QStringLiteral("salvar_automaticamente_video"),
                       salvar_automaticamente_video);
        GravarTexto(QStringLiteral("nome_arquivo_video_padrao"), nome_arquivo_video_padrao);
        GravarTexto(QStringLiteral("caminho_video_padrao"), caminho_video_padrao);
        GravarTexto(QStringLiteral("tipo_arquivo_video_padrao"), tipo_arquivo_video_padrao);
        GravarTexto(QStringLiteral("numero_cores_video"), numero_cores_video);
        GravarInteiro(QStringLiteral("numero_quadros_por_milisegundo"),
                      numero_quadros_por_milisegundo);
        GravarBooleano(QStringLiteral("compactar_video"), compactar_video);
        GravarBooleano(QStringLiteral("compactar_durante_gravacao"), compactar_durante_gravacao);
        GravarTexto(QStringLiteral("compressor_gravacao"), compressor_gravacao);
        GravarInteiro(QStringLiteral("qualidade_gravacao"), qualidade_gravacao);
        GravarTexto(QStringLiteral("comando_captura_video"), comando_captura_video);
        GravarBooleano(QStringLiteral("mostrar_banner"), mostrar_banner);
    } catch (...) {
        // The settings in memory hold the new values already; the banner follows them also
        // when the file refused the write, which goes on to the error route. The dialog stays
        // open, so OK can be tried again.
        AplicarBanner();
        throw;
    }
    AplicarBanner();
    accept();
}

void TFormConfiguracao::AplicarBanner() {
    if (m_principal.TimerBanner) {
        if (!mostrar_banner)
            m_principal.TimerBanner->stop();
        else if (!m_principal.TimerBanner->isActive())
            m_principal.TimerBanner->start();
    }
    // Turned on, the strip comes back when the timer next loads the banner page.
    if (!mostrar_banner && m_principal.ToolBarBanner)
        m_principal.ToolBarBanner->hide();
}

void TFormConfiguracao::SpeedButtonCancelarClick() {
    reject();
}
