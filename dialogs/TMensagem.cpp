#include "dialogs/TMensagem.h"

#include <QStringList>

void TMensagem::Cortar() {
    for (QString* field : {&Nome, &Email, &TipoMensagem, &MsgSO})
        field->truncate(kLimiteTexto);
    for (QString* field : {&DataHora, &SO, &Memoria, &EspacoLivre, &EspacoTotal})
        field->truncate(kLimiteCurto);
}

namespace {

// A field of one line: line breaks inside it (an error text may hold some) become blanks, so
// that every field keeps its own line.
QString linha(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

} // namespace

QString TMensagem::Corpo() const {
    QString descricao = Descricao;
    descricao.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    descricao.replace(u'\r', u'\n');
    const QStringList lines = {
        QStringLiteral("Name: ") + linha(Nome),
        QStringLiteral("E-mail: ") + linha(Email),
        QStringLiteral("Version: ") + linha(Versao),
        QStringLiteral("TipoMensagem:") + linha(TipoMensagem),
        QStringLiteral("DataHora:") + linha(DataHora),
        QStringLiteral("SO:") + linha(SO),
        QStringLiteral("Memoria:") + linha(Memoria),
        QStringLiteral("Espaco_Livre:") + linha(EspacoLivre),
        QStringLiteral("Espaco_Total:") + linha(EspacoTotal),
        QStringLiteral("Msg_SO:") + linha(MsgSO),
        QStringLiteral("Descricao:") + descricao,
    };
    return lines.join(u'\n').replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
}
