#include "ui/QuadrixApplication.h"

namespace qdx::ui {

QuadrixApplication::QuadrixApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool QuadrixApplication::notify(QObject* receiver, QEvent* event) {
    return guardedNotify(receiver, event,
                         [this](QObject* r, QEvent* e) { return QApplication::notify(r, e); });
}

} // namespace qdx::ui
