#pragma once

// The two message boxes all windows use: modal, one OK button, captioned with the application
// title ("Quadrix"), with the information or the error icon. They return when the box is closed.
// They go through the program's prompts (Qt boxes in the programs, standard error in the tool).

#include <QString>

void MensagemInformacao(const QString& text);
void MensagemErro(const QString& text);
