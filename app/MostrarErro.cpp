#include "app/MostrarErro.h"

#include "app/ui/ErrorRoute.h"
#include "shared/Mensagens.h"

// Until the contact dialog exists, an error is shown in the plain error box and no report is sent.
bool MostrarErro(const std::exception& E, QObject*) {
    try {
        MensagemErro(qdx::ui::exceptionText(E));
    } catch (...) {
        // The route itself must never fail.
    }
    return false;
}
