#include "dialogs/EnviarMensagem.h"

#include "dialogs/SmtpClient.h"
#include "platform/core/AppFolder.h"
#include "shared/SoftwareKey.h"
#include "ui/InternetState.h"

#include <QUuid>

#include <cstdio>

namespace {

QString configurado(const char* variable, const char* value) {
    const QString fromEnvironment = qEnvironmentVariable(variable).trimmed();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return LerChaveSoftware(qdx::applicationTitle(), QString::fromLatin1(value),
                            TTipoChave::tcTexto, QString())
        .toString()
        .trimmed();
}

// One line as quoted-printable: printable ASCII as it is, blanks too except at the end, the rest
// as =XX; soft breaks keep every encoded line within 76 characters.
QByteArray quotedPrintableLine(const QByteArray& line) {
    QByteArray out;
    int column = 0;
    const auto put = [&](const QByteArray& piece) {
        if (column + piece.size() > 75) {
            out.append("=\r\n");
            column = 0;
        }
        out.append(piece);
        column += int(piece.size());
    };
    for (qsizetype i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool last = i == line.size() - 1;
        if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
            put(QByteArray(1, char(c)));
        else
            put('=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0'));
    }
    return out;
}

QByteArray quotedPrintable(const QString& text) {
    QByteArrayList lines;
    for (const QByteArray& line : text.toUtf8().split('\n')) {
        QByteArray l = line;
        if (l.endsWith('\r'))
            l.chop(1);
        lines.append(quotedPrintableLine(l));
    }
    return lines.join("\r\n");
}

} // namespace

TDestinoContato TDestinoContato::Configurado() {
    TDestinoContato destino;
    destino.Servidor = configurado("QUADRIX_SMTP_HOST", "SMTP_HOST");
    const QString porta = configurado("QUADRIX_SMTP_PORT", "SMTP_PORT");
    bool ok = false;
    const uint port = porta.toUInt(&ok);
    if (ok && port > 0 && port <= 65535)
        destino.Porta = uint16_t(port);
    destino.CaixaPostal = configurado("QUADRIX_CONTACT_MAILBOX", "CONTACT_MAILBOX");
    return destino;
}

QString TDestinoContato::Faltando() const {
    const QString onde = QStringLiteral("in the section [Software\\%1] of %2")
                             .arg(qdx::applicationTitle(), qdx::softwareKeyFile());
    QStringList faltas;
    if (Servidor.isEmpty())
        faltas.append(QStringLiteral("No mail server is configured: set QUADRIX_SMTP_HOST (and "
                                     "QUADRIX_SMTP_PORT, 25 when not set) in the environment, or "
                                     "SMTP_HOST (and SMTP_PORT) %1.")
                          .arg(onde));
    if (CaixaPostal.isEmpty())
        faltas.append(QStringLiteral("No contact mailbox is configured: set "
                                     "QUADRIX_CONTACT_MAILBOX in the environment, or "
                                     "CONTACT_MAILBOX %1.")
                          .arg(onde));
    return faltas.join(QLatin1Char('\r'));
}

QByteArray ComporMensagem(const TMensagem& mensagem, const QString& caixaPostal,
                          const QDateTime& momento) {
    const QByteArray mailbox = caixaPostal.toUtf8();
    QByteArray mail;
    mail += "From: \"Quadrix\" <" + mailbox + ">\r\n";
    mail += "To: <" + mailbox + ">\r\n";
    mail += "Subject: Quadrix-Contato\r\n";
    mail += "Date: " + momento.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    mail +=
        "Message-ID: <" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@quadrix>\r\n";
    mail += "MIME-Version: 1.0\r\n";
    mail += "Content-Type: text/plain; charset=UTF-8\r\n";
    mail += "Content-Transfer-Encoding: quoted-printable\r\n";
    mail += "\r\n";
    mail += quotedPrintable(mensagem.Corpo());
    mail += "\r\n";
    return mail;
}

bool EnviarMensagem(const TMensagem& mensagem, int tempoLimite, int tempoTotal) {
    const TDestinoContato destino = TDestinoContato::Configurado();
    if (destino.Servidor.isEmpty() || destino.CaixaPostal.isEmpty())
        return false;
    // The connected-state query of the banner: a server on this machine needs no connection.
    if (!qdx::ui::isLocalHost(destino.Servidor) && !qdx::ui::InternetConectada())
        return false;
    SmtpClient client;
    client.setTimeout(tempoLimite);
    client.setTotalTimeout(tempoTotal);
    const bool sent =
        client.send(destino.Servidor, destino.Porta, destino.CaixaPostal, destino.CaixaPostal,
                    ComporMensagem(mensagem, destino.CaixaPostal, QDateTime::currentDateTime()));
    if (!sent)
        std::fprintf(stderr, "Quadrix: contact message not sent: %s\n",
                     client.lastError().toLocal8Bit().constData());
    return sent;
}
