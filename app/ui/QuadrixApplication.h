#pragma once

#include <QApplication>

namespace qdx::ui {

// The application object of both programs. Whatever an event handler of the user-interface thread
// throws is caught here and handed, with the object that received the event, to the error route
// (ErrorRoute.h); the event counts as not handled and the program goes on.
class QuadrixApplication : public QApplication {
public:
    QuadrixApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace qdx::ui
