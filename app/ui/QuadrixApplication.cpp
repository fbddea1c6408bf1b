#include "app/ui/QuadrixApplication.h"

#include "app/ui/ErrorRoute.h"

namespace qdx::ui {

QuadrixApplication::QuadrixApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool QuadrixApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        routeCurrentException(receiver);
        return false;
    }
}

} // namespace qdx::ui
