#include "dialogs/TFormErro.h"

#include "dialogs/EmailValido.h"
#include "dialogs/EnviarMensagem.h"
#include "platform/core/AppFolder.h"
#include "platform/core/Prompts.h"
#include "shared/Configuracoes.h"
#include "shared/Mensagens.h"
#include "shared/SoftwareKey.h"
#include "ui/ErrorRoute.h"
#include "ui/QtPrompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kValorNome = QStringLiteral("CONTATO_NOME");
const QString kValorEmail = QStringLiteral("CONTATO_EMAIL");

QLabel* rotulo(const char* name, const QString& caption, QWidget* buddy, QWidget* parent,
               const QString& accessibleName) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setBuddy(buddy);
    buddy->setAccessibleName(accessibleName);
    return label;
}

} // namespace

TFormErro::TFormErro(QWidget* parent)
    : QDialog(parent), TempoLimite(kTempoLimiteSmtp), TempoTotal(kTempoTotalSmtp) {
    setObjectName(QStringLiteral("FormErro"));
    setWindowTitle(QStringLiteral("Send message"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(427, 384);

    Memo2 = new QPlainTextEdit(this);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setReadOnly(true);
    Memo2->setFrameShape(QFrame::NoFrame);
    Memo2->setFocusPolicy(Qt::NoFocus);
    Memo2->setPlainText(
        QStringLiteral("User, \n"
                       "This form must be used to enter in contact with us, always that you \n"
                       "need send us suggestions, claims or errors found in the application.  "
                       "We count \n"
                       "with this contribution so that us can improve each time plus this "
                       "software, \n"
                       "correcting bugs and developing new functionalities."));
    Memo2->setAccessibleName(QStringLiteral("About this form"));
    Memo2->setFixedHeight(96);

    EditNome = new QLineEdit(this);
    EditNome->setObjectName(QStringLiteral("EditNome"));
    EditNome->setMaxLength(30);
    LabelNome =
        rotulo("LabelNome", QStringLiteral("Name:"), EditNome, this, QStringLiteral("Name"));
    EditEmail = new QLineEdit(this);
    EditEmail->setObjectName(QStringLiteral("EditEmail"));
    EditEmail->setMaxLength(30);
    LabelEmail =
        rotulo("LabelEmail", QStringLiteral("E-mail"), EditEmail, this, QStringLiteral("E-mail"));
    ComboBoxTipoMensagem = new QComboBox(this);
    ComboBoxTipoMensagem->setObjectName(QStringLiteral("ComboBoxTipoMensagem"));
    ComboBoxTipoMensagem->addItems({QStringLiteral("Send error messages"), QStringLiteral("Claims"),
                                    QStringLiteral("Suggestions"), QStringLiteral("Anothers ")});
    ComboBoxTipoMensagem->setCurrentIndex(-1);
    LabelTipoMensagem = rotulo("LabelTipoMensagem", QStringLiteral("Message type::"),
                               ComboBoxTipoMensagem, this, QStringLiteral("Message type"));
    MemoDescricao = new QPlainTextEdit(this);
    MemoDescricao->setObjectName(QStringLiteral("MemoDescricao"));
    MemoDescricao->setTabChangesFocus(true);
    LabelDescricao = rotulo("LabelDescricao", QStringLiteral("Description:"), MemoDescricao, this,
                            QStringLiteral("Description"));
    SpeedButtonEnviar = new QPushButton(QStringLiteral("&Send"), this);
    SpeedButtonEnviar->setObjectName(QStringLiteral("SpeedButtonEnviar"));
    SpeedButtonEnviar->setAutoDefault(false);
    SpeedButtonSair = new QPushButton(QStringLiteral("&Exit"), this);
    SpeedButtonSair->setObjectName(QStringLiteral("SpeedButtonSair"));
    SpeedButtonSair->setAutoDefault(false);

    auto* fields = new QGridLayout;
    fields->addWidget(LabelNome, 0, 0);
    fields->addWidget(EditNome, 0, 1);
    fields->addWidget(LabelEmail, 1, 0);
    fields->addWidget(EditEmail, 1, 1);
    fields->addWidget(LabelTipoMensagem, 2, 0);
    fields->addWidget(ComboBoxTipoMensagem, 2, 1);
    fields->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SpeedButtonEnviar);
    buttons->addWidget(SpeedButtonSair);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo2);
    layout->addLayout(fields);
    layout->addWidget(LabelDescricao);
    layout->addWidget(MemoDescricao, 1);
    layout->addLayout(buttons);

    connect(SpeedButtonEnviar, &QPushButton::clicked, this,
            qdx::ui::guarded(SpeedButtonEnviar, [this](bool) { SpeedButtonEnviarClick(); }));
    connect(SpeedButtonSair, &QPushButton::clicked, this,
            qdx::ui::guarded(SpeedButtonSair, [this](bool) { SpeedButtonSairClick(); }));
    FormCreate();
}

QString TFormErro::NomeLembrado() {
    return LerChaveSoftware(qdx::applicationTitle(), kValorNome, TTipoChave::tcTexto, QString())
        .toString();
}

QString TFormErro::EmailLembrado() {
    return LerChaveSoftware(qdx::applicationTitle(), kValorEmail, TTipoChave::tcTexto, QString())
        .toString();
}

void TFormErro::FormCreate() {
    EditNome->setText(NomeLembrado());
    EditEmail->setText(EmailLembrado());
    TextoErro.clear();
    Origem = nullptr;
}

void TFormErro::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TFormErro::FormShow() {
    // The introduction reads as part of the window: the main window's colour behind it.
    QWidget* principal = parentWidget() ? parentWidget()->window() : nullptr;
    QPalette palette = Memo2->palette();
    const QColor colour =
        (principal ? principal->palette() : QApplication::palette()).color(QPalette::Window);
    palette.setColor(QPalette::Base, colour);
    Memo2->setPalette(palette);
}

bool TFormErro::ValidarMensagem() {
    struct Check {
        bool fails;
        QString message;
        QWidget* field;
    };
    const Check checks[] = {
        {EditNome->text().trimmed().isEmpty(), QStringLiteral("Write the name."), EditNome},
        {EditEmail->text().trimmed().isEmpty(), QStringLiteral("Write the e-mail."), EditEmail},
        {!EmailValido(EditEmail->text()), QStringLiteral("Invalid e-mail ."), EditEmail},
        {ComboBoxTipoMensagem->currentText().trimmed().isEmpty(),
         QStringLiteral("Select the message type!"), ComboBoxTipoMensagem},
        {MemoDescricao->toPlainText().trimmed().isEmpty(),
         QStringLiteral("Write the message to send"), MemoDescricao},
    };
    for (const Check& check : checks) {
        if (!check.fails)
            continue;
        MensagemErro(check.message);
        check.field->setFocus(Qt::OtherFocusReason);
        return false;
    }
    return true;
}

QString TFormErro::TextoErroComOrigem() const {
    QString text = TextoErro;
    if (const auto* widget = qobject_cast<const QWidget*>(Origem.data()))
        text += (widget->isWindow() ? QStringLiteral("Form:") : QStringLiteral("Controle:")) +
                widget->objectName();
    return text;
}

TMensagem TFormErro::Mensagem() const {
    const TInformacoesSistema sistema = LerSistema ? LerSistema() : TInformacoesSistema::Atuais();
    TMensagem mensagem;
    mensagem.Nome = EditNome->text();
    mensagem.Email = EditEmail->text();
    mensagem.Versao = VersaoPrograma;
    mensagem.TipoMensagem = ComboBoxTipoMensagem->currentText();
    mensagem.Descricao = MemoDescricao->toPlainText();
    mensagem.DataHora = TextoDataHora(QDateTime::currentDateTime());
    mensagem.SO = sistema.SO;
    mensagem.Memoria = sistema.Memoria;
    mensagem.EspacoLivre = sistema.EspacoLivre;
    mensagem.EspacoTotal = sistema.EspacoTotal;
    mensagem.MsgSO = TextoErroComOrigem();
    mensagem.Cortar();
    return mensagem;
}

void TFormErro::SpeedButtonEnviarClick() {
    if (m_enviando || !ValidarMensagem())
        return;
    // The sender is remembered also when the mail does not go out. A per-user file that refuses
    // the write does not keep the message from being sent.
    try {
        const QString title = qdx::applicationTitle();
        GravarChaveSoftware(title, kValorNome, EditNome->text(), TTipoChave::tcTexto);
        GravarChaveSoftware(title, kValorEmail, EditEmail->text(), TTipoChave::tcTexto);
    } catch (const std::exception&) {
    }
    // Without a server or a mailbox nothing can go out: the user learns what to set, and the
    // dialog keeps every entry for when it is set.
    const QString faltando = TDestinoContato::Configurado().Faltando();
    if (!faltando.isEmpty()) {
        MensagemErro(QStringLiteral("Problem to send message!\r") + faltando);
        return;
    }
    const TMensagem mensagem = Mensagem();

    m_enviando = true;
    SpeedButtonEnviar->setEnabled(false);
    SpeedButtonSair->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool sent = false;
    try {
        sent = EnviarMensagem(mensagem, TempoLimite, TempoTotal);
    } catch (...) {
        sent = false;
    }
    QApplication::restoreOverrideCursor();
    SpeedButtonEnviar->setEnabled(true);
    SpeedButtonSair->setEnabled(true);
    m_enviando = false;

    if (sent) {
        MensagemInformacao(QStringLiteral("Successfully sent message!"));
        accept();
    } else {
        MensagemErro(QStringLiteral("Problem to send message!\rVerify if internet is active!"));
    }
}

void TFormErro::SpeedButtonSairClick() {
    reject();
}

void TFormErro::reject() {
    // The dialog stays while the mail exchange runs.
    if (!m_enviando)
        QDialog::reject();
}

void TFormErro::closeEvent(QCloseEvent* event) {
    if (m_enviando) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool AbrirContato(QWidget* Principal) {
    TFormErro dialog(Principal);
    return dialog.exec() == QDialog::Accepted;
}

bool MostrarErro(const std::exception& E, QObject* Origem, QWidget* Principal) {
    try {
        // Without prompts on the screen (the command-line tool, tests) the error is a message.
        if (!qdx::prompts().onScreen()) {
            MensagemErro(qdx::ui::exceptionText(E));
            return false;
        }
        if (!Principal)
            Principal = qdx::ui::dialogParent();
        TFormErro dialog(Principal);
        dialog.ComboBoxTipoMensagem->setCurrentIndex(0);
        dialog.TextoErro = qdx::ui::exceptionText(E);
        dialog.Origem = Origem;
        dialog.MemoDescricao->appendPlainText(dialog.TextoErro);
        return dialog.exec() == QDialog::Accepted;
    } catch (...) {
        return false;
    }
}
