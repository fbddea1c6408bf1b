#pragma once

#include <QString>

// What a contact message carries, each field cut to its limit. The mail's body is one line per
// field, the label directly followed by the value, the description last with its own lines.
struct TMensagem {
    static constexpr int kLimiteTexto = 255; // name, e-mail, message type, error text
    static constexpr int kLimiteCurto = 20;  // date and time, system, memory, disk space

    QString Nome;
    QString Email;
    QString Versao;
    QString TipoMensagem;
    QString Descricao; // no limit
    QString DataHora;
    QString SO;
    QString Memoria;
    QString EspacoLivre;
    QString EspacoTotal;
    QString MsgSO; // the error text with its origin

    // Cuts every field to its limit.
    void Cortar();
    // The body lines in their order, joined by CRLF; the description's own line breaks (of any
    // kind) become CRLF too.
    QString Corpo() const;
};
