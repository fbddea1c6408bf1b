#include "shared/Mensagens.h"

#include "platform/core/AppFolder.h"
#include "platform/core/Prompts.h"

void MensagemInformacao(const QString& text) {
    qdx::prompts().information(qdx::applicationTitle(), text);
}

void MensagemErro(const QString& text) {
    qdx::prompts().error(qdx::applicationTitle(), text);
}
