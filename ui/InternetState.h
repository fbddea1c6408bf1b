#pragma once

#include <QString>

namespace qdx::ui {

// The connected-state query: whether the computer can reach the Internet. Qt's network
// information reachability where a backend reports it, else whether any network interface other
// than the loopback is up and running.
bool InternetConectada();

// Whether a host (name or address, with or without ":port") is this machine itself: a page there
// needs no Internet connection.
bool isLocalHost(const QString& host);

} // namespace qdx::ui
