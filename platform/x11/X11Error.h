#pragma once

#include "platform/core/Exception.h"

namespace qdx::x11 {

// A failure of the X server connection or of a request on it (a refused screen copy, a lost
// connection). The text says what failed, in words a user can act on.
class X11Error : public qdx::Exception {
public:
    explicit X11Error(const QString& message) : qdx::Exception(message) {}
    explicit X11Error(const std::string& message)
        : qdx::Exception(QString::fromStdString(message)) {}
    explicit X11Error(const char* message) : qdx::Exception(QString::fromUtf8(message)) {}
};

} // namespace qdx::x11
