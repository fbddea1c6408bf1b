// The contact message: its checks with their focus, the e-mail syntax, the error route's dialog
// with the error's origin, the queue of errors raised while one is shown, and the mail as a real
// SMTP server (Python's aiosmtpd) receives it, also when the server fails at each step.

#include "dialogs/EmailValido.h"
#include "dialogs/SmtpClient.h"
#include "dialogs/TFormErro.h"
#include "platform/core/Exception.h"
#include "shared/Configuracoes.h"
#include "shared/SoftwareKey.h"
#include "tests/app/AppTestSupport.h"
#include "tests/dialogs/OnModal.h"
#include "ui/ErrorRoute.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <functional>

using namespace qdx;
using namespace qdx::test;

namespace {

const QString kFalha = QStringLiteral("Problem to send message!\rVerify if internet is active!");
const QString kCaixa = QStringLiteral("contato@quadrix.example");

// One of the test mail servers of smtp_server.py, on 127.0.0.1.
class MailServer {
public:
    MailServer(const QString& mode, const QString& folder) : m_folder(folder) {
        const QString python = QFile::exists(QStringLiteral("/usr/bin/python3"))
                                   ? QStringLiteral("/usr/bin/python3")
                                   : QStringLiteral("python3");
        m_process.setProgram(python);
        m_process.setArguments(
            {sourceDir() + QStringLiteral("/tests/dialogs/smtp_server.py"), mode, folder});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        QElapsedTimer clock;
        clock.start();
        while (port == 0 && clock.elapsed() < 20000 && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(200);
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("PORT "))
                port = uint16_t(line.mid(5).toUInt());
        }
    }
    ~MailServer() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The mails received so far, in order.
    QList<QJsonObject> mails() const {
        QList<QJsonObject> list;
        for (int n = 1;; ++n) {
            const QByteArray data = readAll(m_folder + QStringLiteral("/mail-%1.json").arg(n));
            if (data.isEmpty())
                return list;
            list.append(QJsonDocument::fromJson(data).object());
        }
    }
    uint16_t port = 0;

private:
    QString m_folder;
    QProcess m_process;
};

class Contato : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        qputenv("QUADRIX_CONTACT_MAILBOX", kCaixa.toUtf8());
        qunsetenv("QUADRIX_SMTP_HOST");
        qunsetenv("QUADRIX_SMTP_PORT");
    }
    void TearDown() override {
        qunsetenv("QUADRIX_CONTACT_MAILBOX");
        qunsetenv("QUADRIX_SMTP_HOST");
        qunsetenv("QUADRIX_SMTP_PORT");
        MainWindowFixture::TearDown();
    }
    void useServer(uint16_t port) {
        qputenv("QUADRIX_SMTP_HOST", "127.0.0.1");
        qputenv("QUADRIX_SMTP_PORT", QByteArray::number(port));
    }
    // A dialog with entries that pass every check and machine facts of 512 MiB.
    std::unique_ptr<TFormErro> filled() {
        auto d = std::make_unique<TFormErro>(form.get());
        d->LerSistema = [] {
            TInformacoesSistema info;
            info.SO = QStringLiteral("Linux 6.1.0-18-amd64-extra");
            info.Memoria = TextoMemoria(536870912, 123456789);
            info.EspacoLivre = QStringLiteral("1234567 Bytes");
            info.EspacoTotal = QStringLiteral("98765432101234567890123 Bytes");
            return info;
        };
        d->TempoLimite = 1500;
        d->EditNome->setText(QStringLiteral("Zé Ninguém"));
        d->EditEmail->setText(QStringLiteral("ze@example.com"));
        d->ComboBoxTipoMensagem->setCurrentIndex(3);
        d->MemoDescricao->setPlainText(
            QStringLiteral("Primeira linha\n.\nçãé — fim\n..dois pontos"));
        return d;
    }
    QString mailFolder() const {
        const QString folder = path(QStringLiteral("mail"));
        QDir().mkpath(folder);
        return folder;
    }
};

} // namespace

TEST(EmailValido, FollowsTheNineStates) {
    const char* valid[] = {"ana@example.com",
                           "a.b.c@x.org",
                           "\"john doe\"@example.com",
                           "\"a\\\"b\"@x.com",
                           "ab.\"cd\"@x.com",
                           "user+tag@mail.example.co",
                           "a@b-c.d",
                           "a@b--c.d1",
                           "x@a1.b2",
                           "!#$%&'*+-=?^_`{|}~@x.com",
                           "\xe9t\xe9@x.com"};
    for (const char* text : valid)
        EXPECT_TRUE(EmailValido(QString::fromLatin1(text))) << text;
    const char* invalid[] = {"ana@example", // no dot in the domain
                             " ana@example.com",
                             "ana@example.com ",
                             "ana@1x.com",
                             "ana@x.1com",
                             "ana@x.com.",
                             "ana@x.com-",
                             "ana@x-.com",
                             "a..b@x.com",
                             ".a@x.com",
                             "a.@x.com",
                             "a@.com",
                             "a@@x.com",
                             "\"a\rb\"@x.com",
                             "a b@x.com",
                             "a\"b@x.com",
                             "\"ab\"cd@x.com",
                             "ana@x.c_m",
                             "",
                             "ana",
                             "@x.com",
                             "ana@exa mple.com",
                             "a(b)@x.com",
                             "a@x..com"};
    for (const char* text : invalid)
        EXPECT_FALSE(EmailValido(QString::fromLatin1(text))) << text;
    // Beyond Latin-1 is no atom character.
    EXPECT_FALSE(EmailValido(QStringLiteral("\u0416@x.com")));
}

TEST_F(Contato, ChecksInOrderWithTheirFocus) {
    TFormErro d(form.get());
    d.show();
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Send message"));
    EXPECT_EQ(d.size(), QSize(427, 384));
    EXPECT_EQ(d.ComboBoxTipoMensagem->currentIndex(), -1);
    EXPECT_EQ(d.EditNome->maxLength(), 30);
    EXPECT_EQ(d.Memo2->palette().color(QPalette::Base), form->palette().color(QPalette::Window));
    struct Step {
        std::function<void()> set;
        QString message; // empty: passes
        QWidget* focus;
    };
    const std::vector<Step> steps = {
        {[&] { d.EditNome->setText(QStringLiteral("   ")); }, QStringLiteral("Write the name."),
         d.EditNome},
        {[&] { d.EditNome->setText(QStringLiteral("Ana")); }, QStringLiteral("Write the e-mail."),
         d.EditEmail},
        {[&] { d.EditEmail->setText(QStringLiteral(" ana@example.com")); },
         QStringLiteral("Invalid e-mail ."), d.EditEmail},
        {[&] { d.EditEmail->setText(QStringLiteral("ana@example")); },
         QStringLiteral("Invalid e-mail ."), d.EditEmail},
        {[&] { d.EditEmail->setText(QStringLiteral("ana@example.com")); },
         QStringLiteral("Select the message type!"), d.ComboBoxTipoMensagem},
        {[&] { d.ComboBoxTipoMensagem->setCurrentIndex(1); },
         QStringLiteral("Write the message to send"), d.MemoDescricao},
        {[&] { d.MemoDescricao->setPlainText(QStringLiteral("\n  \t")); },
         QStringLiteral("Write the message to send"), d.MemoDescricao},
        {[&] { d.MemoDescricao->setPlainText(QStringLiteral("Olá")); }, QString(), nullptr},
    };
    for (const Step& step : steps) {
        step.set();
        prompts.asked.clear();
        d.SpeedButtonSair->setFocus();
        const bool passed = d.ValidarMensagem();
        EXPECT_EQ(passed, step.message.isEmpty());
        EXPECT_EQ(prompts.texts(QStringLiteral("error")),
                  step.message.isEmpty() ? QStringList() : QStringList{step.message});
        EXPECT_EQ(d.focusWidget(), step.focus ? step.focus : d.SpeedButtonSair)
            << step.message.toStdString();
    }
}

// The mail exactly as composed, through a real server: envelope, headers, every body line, the
// remembered sender, also across a new dialog.
TEST_F(Contato, MessageReachesTheServerAsComposed) {
    MailServer server(QStringLiteral("accept"), mailFolder());
    ASSERT_NE(server.port, 0);
    useServer(server.port);
    auto d = filled();
    d->SpeedButtonEnviar->click();
    EXPECT_EQ(prompts.texts(QStringLiteral("information")),
              QStringList{QStringLiteral("Successfully sent message!")});
    EXPECT_EQ(d->result(), QDialog::Accepted);
    const QList<QJsonObject> mails = server.mails();
    ASSERT_EQ(mails.size(), 1);
    const QJsonObject& mail = mails[0];
    EXPECT_EQ(mail[QStringLiteral("mail_from")].toString(), kCaixa);
    EXPECT_EQ(mail[QStringLiteral("rcpt_tos")].toArray(), QJsonArray{kCaixa});
    EXPECT_EQ(mail[QStringLiteral("subject")].toString(), QStringLiteral("Quadrix-Contato"));
    EXPECT_EQ(mail[QStringLiteral("from")].toString(),
              QStringLiteral("\"Quadrix\" <%1>").arg(kCaixa));
    EXPECT_EQ(mail[QStringLiteral("content_type")].toString(), QStringLiteral("text/plain"));
    EXPECT_EQ(mail[QStringLiteral("charset")].toString(), QStringLiteral("utf-8"));
    EXPECT_FALSE(mail[QStringLiteral("helo")].toString().isEmpty());
    const QStringList lines = mail[QStringLiteral("body")].toString().split(u'\n');
    ASSERT_GE(lines.size(), 14) << mail[QStringLiteral("raw")].toString().toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Name: Zé Ninguém"));
    EXPECT_EQ(lines[1], QStringLiteral("E-mail: ze@example.com"));
    EXPECT_EQ(lines[2], QStringLiteral("Version: 6.2.0"));
    EXPECT_EQ(lines[3], QStringLiteral("TipoMensagem:Anothers "));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^DataHora:\\d\\d\\D\\d\\d\\D\\d{4} "
                                                  "\\d\\d\\D\\d\\d\\D\\d\\d$"))
                    .match(lines[4])
                    .hasMatch())
        << lines[4].toStdString();
    EXPECT_EQ(lines[5], QStringLiteral("SO:Linux 6.1.0-18-amd64"));
    EXPECT_EQ(lines[6], QStringLiteral("Memoria:Total: 536870912 Byt"));
    EXPECT_EQ(lines[7], QStringLiteral("Espaco_Livre:1234567 Bytes"));
    EXPECT_EQ(lines[8], QStringLiteral("Espaco_Total:98765432101234567890"));
    EXPECT_EQ(lines[9], QStringLiteral("Msg_SO:"));
    EXPECT_EQ(lines[10], QStringLiteral("Descricao:Primeira linha"));
    EXPECT_EQ(lines[11], QStringLiteral("."));
    EXPECT_EQ(lines[12], QStringLiteral("çãé — fim"));
    EXPECT_EQ(lines[13], QStringLiteral("..dois pontos"));

    EXPECT_EQ(TFormErro::NomeLembrado(), QStringLiteral("Zé Ninguém"));
    TFormErro next(form.get());
    EXPECT_EQ(next.EditNome->text(), QStringLiteral("Zé Ninguém"));
    EXPECT_EQ(next.EditEmail->text(), QStringLiteral("ze@example.com"));
    EXPECT_TRUE(next.MemoDescricao->toPlainText().isEmpty());
}

// Every way the mail can fail: the failure message, the dialog open with every entry, the
// sender remembered from the last attempt; then a good server takes the same message.
TEST_F(Contato, ServerFaultsKeepEveryEntry) {
    auto d = filled();
    const auto attempt = [&](const QString& name, const QString& message = kFalha) {
        prompts.asked.clear();
        d->EditNome->setText(name);
        d->SpeedButtonEnviar->click();
        EXPECT_EQ(prompts.texts(QStringLiteral("error")), QStringList{message})
            << name.toStdString();
        EXPECT_NE(d->result(), QDialog::Accepted);
        EXPECT_EQ(d->EditNome->text(), name);
        EXPECT_EQ(d->EditEmail->text(), QStringLiteral("ze@example.com"));
        EXPECT_EQ(d->ComboBoxTipoMensagem->currentIndex(), 3);
        EXPECT_TRUE(d->MemoDescricao->toPlainText().startsWith(QStringLiteral("Primeira")));
        EXPECT_EQ(TFormErro::NomeLembrado(), name);
    };
    // Nothing configured: the message says what is missing and where to set it.
    const QString onde =
        QStringLiteral(" in the section [Software\\Quadrix] of %1.").arg(softwareKeyFile());
    const QString semServidor =
        QStringLiteral(
            "No mail server is configured: set QUADRIX_SMTP_HOST (and QUADRIX_SMTP_PORT, "
            "25 when not set) in the environment, or SMTP_HOST (and SMTP_PORT)") +
        onde;
    const QString semCaixa = QStringLiteral("No contact mailbox is configured: set "
                                            "QUADRIX_CONTACT_MAILBOX in the environment, or "
                                            "CONTACT_MAILBOX") +
                             onde;
    attempt(QStringLiteral("No host"), QStringLiteral("Problem to send message!\r") + semServidor);
    qunsetenv("QUADRIX_CONTACT_MAILBOX");
    attempt(QStringLiteral("Nothing"),
            QStringLiteral("Problem to send message!\r") + semServidor + u'\r' + semCaixa);
    // The per-user file serves as well as the environment.
    GravarChaveSoftware(QStringLiteral("Quadrix"), QStringLiteral("SMTP_HOST"),
                        QStringLiteral("127.0.0.1"), TTipoChave::tcTexto);
    attempt(QStringLiteral("No mailbox"), QStringLiteral("Problem to send message!\r") + semCaixa);
    GravarChaveSoftware(QStringLiteral("Quadrix"), QStringLiteral("SMTP_HOST"), QString(),
                        TTipoChave::tcTexto);
    qputenv("QUADRIX_CONTACT_MAILBOX", kCaixa.toUtf8());

    {
        QTcpServer closed; // a port nobody listens on any more
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        const uint16_t port = closed.serverPort();
        closed.close();
        useServer(port);
        attempt(QStringLiteral("No server"));
    }
    // Each byte of the trickling server comes well within the step's limit; only the limit of
    // the whole exchange ends it, long before the server stops on its own.
    d->TempoTotal = 3000;
    for (const char* mode : {"refuse-rcpt", "close-in-data", "silent", "trickle"}) {
        MailServer server(QString::fromLatin1(mode), mailFolder());
        ASSERT_NE(server.port, 0) << mode;
        useServer(server.port);
        attempt(QString::fromLatin1(mode));
        EXPECT_TRUE(server.mails().isEmpty());
        if (QLatin1String(mode) == QLatin1String("trickle")) {
            // The server tells who hung up first.
            const QString trickled = mailFolder() + QStringLiteral("/trickle.txt");
            QElapsedTimer wait;
            wait.start();
            while (!QFile::exists(trickled) && wait.elapsed() < 60000)
                QThread::msleep(50);
            EXPECT_EQ(readAll(trickled), QByteArray("client-left"));
        }
    }

    MailServer good(QStringLiteral("accept"), mailFolder());
    useServer(good.port);
    prompts.asked.clear();
    d->EditNome->setText(QStringLiteral("Last"));
    d->SpeedButtonEnviar->click();
    EXPECT_EQ(prompts.texts(QStringLiteral("information")),
              QStringList{QStringLiteral("Successfully sent message!")});
    ASSERT_EQ(good.mails().size(), 1);
    EXPECT_TRUE(good.mails()[0][QStringLiteral("body")].toString().startsWith(
        QStringLiteral("Name: Last\n")));
    EXPECT_EQ(TFormErro::NomeLembrado(), QStringLiteral("Last"));
}

TEST(SmtpClient, DoublesLeadingDotsAndEndsLinesWithCrLf) {
    EXPECT_EQ(SmtpClient::dotStuffed("a\n.\n..b\r\nc\rd"),
              QByteArray("a\r\n..\r\n...b\r\nc\r\nd\r\n"));
    EXPECT_EQ(SmtpClient::dotStuffed("x\r\n"), QByteArray("x\r\n"));
}

// The error route opens the dialog with the error; the report carries its origin.
TEST_F(Contato, ErrorRouteOpensTheDialogWithTheErrorAndItsOrigin) {
    MailServer server(QStringLiteral("accept"), mailFolder());
    ASSERT_NE(server.port, 0);
    useServer(server.port);
    // Prompts that are not on the screen get the error as a message, and no dialog opens.
    ui::guarded(form->ToolButton19, [] { throw Exception(QStringLiteral("Quiet")); })();
    EXPECT_EQ(prompts.texts(QStringLiteral("error")), QStringList{QStringLiteral("Quiet")});
    prompts.windows = true;
    const bool seen = onModal<TFormErro>(
        [&] { ui::guarded(form->ToolButton19, [] { throw Exception(QStringLiteral("Boom")); })(); },
        [&](TFormErro* d) {
            EXPECT_EQ(d->ComboBoxTipoMensagem->currentText(),
                      QStringLiteral("Send error messages"));
            EXPECT_EQ(d->MemoDescricao->toPlainText(), QStringLiteral("Boom"));
            EXPECT_EQ(d->TextoErro, QStringLiteral("Boom"));
            d->EditNome->setText(QStringLiteral("Ana"));
            d->EditEmail->setText(QStringLiteral("ana@example.com"));
            d->TempoLimite = 5000;
            d->SpeedButtonEnviar->click();
        });
    ASSERT_TRUE(seen);
    ASSERT_EQ(server.mails().size(), 1);
    const QStringList lines = server.mails()[0][QStringLiteral("body")].toString().split(u'\n');
    EXPECT_TRUE(lines.contains(QStringLiteral("Msg_SO:BoomControle:ToolButton19")));
    EXPECT_TRUE(lines.contains(QStringLiteral("TipoMensagem:Send error messages")));

    // Origins: a window, a control, an object that is no widget, none.
    TFormErro d(form.get());
    d.TextoErro = QStringLiteral("E");
    d.Origem = form.get();
    EXPECT_EQ(d.TextoErroComOrigem(), QStringLiteral("EForm:FormPrincipal"));
    d.Origem = form->ToolButton19;
    EXPECT_EQ(d.TextoErroComOrigem(), QStringLiteral("EControle:ToolButton19"));
    d.Origem = form->Faleconosco1;
    EXPECT_EQ(d.TextoErroComOrigem(), QStringLiteral("E"));
    d.Origem = nullptr;
    EXPECT_EQ(d.TextoErroComOrigem(), QStringLiteral("E"));

    // "Contact us" opens it empty.
    const bool contact =
        onModal<TFormErro>([&] { form->Faleconosco1->trigger(); },
                           [&](TFormErro* c) {
                               EXPECT_EQ(c->ComboBoxTipoMensagem->currentIndex(), -1);
                               EXPECT_TRUE(c->TextoErro.isEmpty());
                               EXPECT_EQ(c->EditNome->text(), QStringLiteral("Ana"));
                           });
    EXPECT_TRUE(contact);
}

// Errors raised while one is shown wait for it in order; a burst is shown once with its count;
// an origin destroyed meanwhile becomes none.
TEST(ErrorRoute, NoErrorIsLostWhileOneIsShown) {
    struct Shown {
        QString text;
        QObject* sender;
    };
    std::vector<Shown> shown;
    auto* doomed = new QObject;
    QObject kept;
    const auto raise = [](QObject* sender, const char* text) {
        try {
            throw Exception(QString::fromLatin1(text));
        } catch (...) {
            ui::routeCurrentException(sender);
        }
    };
    const auto previous = ui::setExceptionHook([&](QObject* sender, const std::exception& e) {
        shown.push_back({ui::exceptionText(e), sender});
        if (shown.size() == 1) {
            // While the first is shown: a burst of B, one C, B again, then C's origin dies.
            for (int i = 0; i < 3; ++i)
                raise(&kept, "B");
            raise(doomed, "C");
            raise(&kept, "B");
            raise(nullptr, "B");
            delete doomed;
        }
        if (shown.size() == 2)
            raise(&kept, "D"); // raised while a waiting one is shown
    });
    raise(&kept, "A");
    ui::setExceptionHook(previous);
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].text, QStringLiteral("A"));
    EXPECT_EQ(shown[1].text, QStringLiteral("B (4 times)"));
    EXPECT_EQ(shown[1].sender, &kept);
    EXPECT_EQ(shown[2].text, QStringLiteral("C"));
    EXPECT_EQ(shown[2].sender, nullptr);
    EXPECT_EQ(shown[3].text, QStringLiteral("B"));
    EXPECT_EQ(shown[4].text, QStringLiteral("D"));
}
