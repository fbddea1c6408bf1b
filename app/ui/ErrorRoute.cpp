#include "app/ui/ErrorRoute.h"

#include "platform/core/Exception.h"
#include "shared/IniFile.h"
#include "shared/Mensagens.h"
#include "shared/PictureError.h"
#include "shared/SoftwareKey.h"

#include <cstdio>
#include <stdexcept>

namespace qdx::ui {

namespace {

ExceptionHook& hook() {
    static ExceptionHook instance;
    return instance;
}

// An exception reported while another one is being shown is not shown on top of it.
bool routing = false;

} // namespace

ExceptionHook setExceptionHook(ExceptionHook newHook) {
    return std::exchange(hook(), std::move(newHook));
}

QString exceptionText(const std::exception& e) {
    if (const auto* own = dynamic_cast<const qdx::Exception*>(&e))
        return own->Message();
    if (const auto* picture = dynamic_cast<const qdx::PictureError*>(&e))
        return picture->text();
    if (const auto* key = dynamic_cast<const qdx::SoftwareKeyError*>(&e))
        return key->text();
    if (const auto* ini = dynamic_cast<const qdx::IniWriteError*>(&e))
        return ini->text();
    return QString::fromUtf8(e.what());
}

void routeCurrentException(QObject* sender) noexcept {
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return;
    const auto deliver = [sender](const std::exception& e) {
        if (routing) {
            std::fprintf(stderr, "Quadrix: %s\n", exceptionText(e).toLocal8Bit().constData());
            return;
        }
        routing = true;
        try {
            if (hook())
                hook()(sender, e);
            else
                MensagemErro(exceptionText(e));
        } catch (const std::exception& inner) {
            std::fprintf(stderr, "Quadrix: %s\n", exceptionText(inner).toLocal8Bit().constData());
        } catch (...) {
            std::fprintf(stderr, "Quadrix: unknown error while reporting an error\n");
        }
        routing = false;
    };
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        deliver(e);
    } catch (...) {
        deliver(std::runtime_error("Unknown error."));
    }
}

} // namespace qdx::ui
