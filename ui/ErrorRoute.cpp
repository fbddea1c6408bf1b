#include "ui/ErrorRoute.h"

#include "platform/core/Exception.h"
#include "shared/IniFile.h"
#include "shared/Mensagens.h"
#include "shared/PictureError.h"
#include "shared/SoftwareKey.h"

#include <QPointer>

#include <cstdio>
#include <deque>
#include <stdexcept>

namespace qdx::ui {

namespace {

ExceptionHook& hook() {
    static ExceptionHook instance;
    return instance;
}

// An error raised while another one is being shown (its box or the contact dialog is open) waits
// for it in order; the same error raised again while it waits is counted, not queued twice.
struct Waiting {
    QString text;
    QPointer<QObject> sender;
    int count = 1;
};
std::deque<Waiting>& waiting() {
    static std::deque<Waiting> instance;
    return instance;
}
bool routing = false;

void show(QObject* sender, const std::exception& e) noexcept {
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
}

void deliver(QObject* sender, const std::exception& e) noexcept {
    if (routing) {
        try {
            const QString text = exceptionText(e);
            for (Waiting& w : waiting())
                if (w.text == text && w.sender.data() == sender) {
                    ++w.count;
                    return;
                }
            waiting().push_back({text, sender, 1});
        } catch (...) {
            std::fprintf(stderr, "Quadrix: %s\n", e.what());
        }
        return;
    }
    routing = true;
    show(sender, e);
    while (!waiting().empty()) {
        const Waiting next = waiting().front();
        waiting().pop_front();
        try {
            const qdx::Exception repeated(next.count > 1 ? repeatedText(next.text, next.count)
                                                         : next.text);
            show(next.sender.data(), repeated);
        } catch (...) {
            std::fprintf(stderr, "Quadrix: %s\n", next.text.toLocal8Bit().constData());
        }
    }
    routing = false;
}

} // namespace

QString repeatedText(const QString& text, int count) {
    return QStringLiteral("%1 (%2 times)").arg(text).arg(count);
}

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
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        deliver(sender, e);
    } catch (...) {
        deliver(sender, std::runtime_error("Unknown error."));
    }
}

} // namespace qdx::ui
