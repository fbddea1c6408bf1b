#pragma once

#include "ui/ErrorRoute.h"

#include <QApplication>

namespace qdx::ui {

// The application object of both programs. Whatever an event handler of the user-interface thread
// throws is caught here and handed, with the object that received the event, to the error route
// (ErrorRoute.h); the event counts as not handled and the program goes on.
class QuadrixApplication : public QApplication {
public:
    QuadrixApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Delivers an event through `deliver` and routes whatever it throws, answering false then.
    template <class Deliver>
    static bool guardedNotify(QObject* receiver, QEvent* event, Deliver&& deliver);
};

template <class Deliver>
bool QuadrixApplication::guardedNotify(QObject* receiver, QEvent* event, Deliver&& deliver) {
    try {
        return deliver(receiver, event);
    } catch (...) {
        routeCurrentException(receiver);
        return false;
    }
}

} // namespace qdx::ui
