#pragma once

#include "dialogs/TInformacoesSistema.h"
#include "dialogs/TMensagem.h"

#include <QDialog>
#include <QPointer>

#include <exception>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The contact dialog: the user sends a message to the maker, an error report, a claim, a
// suggestion or anything else. Send checks the entries, gathers a few facts about the machine and
// mails everything; the dialog keeps every entry when the mail does not go out.
class TFormErro : public QDialog {
    Q_OBJECT
public:
    explicit TFormErro(QWidget* parent = nullptr);

    QPlainTextEdit* Memo2;
    QLabel* LabelNome;
    QLineEdit* EditNome;
    QLabel* LabelEmail;
    QLineEdit* EditEmail;
    QLabel* LabelTipoMensagem;
    QComboBox* ComboBoxTipoMensagem;
    QLabel* LabelDescricao;
    QPlainTextEdit* MemoDescricao;
    QPushButton* SpeedButtonEnviar;
    QPushButton* SpeedButtonSair;

    // The error the error route filled in (empty for "Contact us") and the object that raised it.
    QString TextoErro;
    QPointer<QObject> Origem;

    // The facts about the machine that Send gathers (replaced in tests), and the time limits of
    // each step of the mail exchange and of the whole exchange, in milliseconds.
    std::function<TInformacoesSistema()> LerSistema = &TInformacoesSistema::Atuais;
    int TempoLimite;
    int TempoTotal;

    // The checks of Send, in order: the first failing one shows its message, moves the focus to
    // its field and answers false.
    bool ValidarMensagem();
    // The message Send would mail now.
    TMensagem Mensagem() const;
    // The error text with its origin: "Form:" and the name of a window, "Controle:" and the name
    // of any other widget, nothing for other objects.
    QString TextoErroComOrigem() const;

    // The per-user values that remember the last sender.
    static QString NomeLembrado();
    static QString EmailLembrado();

public Q_SLOTS:
    void FormCreate();
    void SpeedButtonEnviarClick();
    void SpeedButtonSairClick();
    // Closing waits while the mail exchange runs.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormShow();
    bool m_enviando = false;
};

// "Contact us": the dialog, empty but for the remembered sender. True when a message was sent.
bool AbrirContato(QWidget* Principal);

// The error route's dialog: "Send error messages" chosen, the error's text in the description
// and kept with its origin for the report. True when a report was sent; any failure while the
// dialog is prepared gives false, and then the dialog is not shown. Never throws.
bool MostrarErro(const std::exception& E, QObject* Origem, QWidget* Principal = nullptr);
