#pragma once

// Drives a modal dialog in a widget test without blocking on it.

#include <QApplication>
#include <QTimer>

#include <functional>

namespace qdx::test {

// Runs `body` on the modal dialog of type Dialog that `open` shows, then closes the dialog if
// `body` left it open. True when such a dialog came up.
template <class Dialog>
bool onModal(const std::function<void()>& open, const std::function<void(Dialog*)>& body) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = true;
        body(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    open();
    return seen;
}

} // namespace qdx::test
