#pragma once

#include "dialogs/TMensagem.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>

// Where contact messages go: configuration, never built in. The environment variables
// QUADRIX_SMTP_HOST, QUADRIX_SMTP_PORT and QUADRIX_CONTACT_MAILBOX, else the per-user values
// SMTP_HOST, SMTP_PORT and CONTACT_MAILBOX (beside the skin choice). The port defaults to 25.
struct TDestinoContato {
    QString Servidor;
    uint16_t Porta = 25;
    QString CaixaPostal;

    static TDestinoContato Configurado();
    // What is missing for a mail to go out and how to set it (the environment variables, or the
    // keys of the per-user file and where that file is); empty when server and mailbox are set.
    QString Faltando() const;
};

// The time limit of each step of the mail exchange, and of the whole exchange, in milliseconds.
inline constexpr int kTempoLimiteSmtp = 30000;
inline constexpr int kTempoTotalSmtp = 60000;

// The mail of a message: from "Quadrix" at the contact mailbox to it, subject "Quadrix-Contato",
// the body in UTF-8, quoted-printable, lines ended by CRLF.
QByteArray ComporMensagem(const TMensagem& mensagem, const QString& caixaPostal,
                          const QDateTime& momento);

// Sends the message to the configured mailbox. False at once when no server or mailbox is
// configured or the computer is not connected (a server on this machine needs no connection);
// false when any step of the exchange fails or the whole exchange outlasts `tempoTotal`; true
// when the server took the mail.
bool EnviarMensagem(const TMensagem& mensagem, int tempoLimite = kTempoLimiteSmtp,
                    int tempoTotal = kTempoTotalSmtp);
