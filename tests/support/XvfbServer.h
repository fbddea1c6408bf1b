#pragma once

#include <QString>

#include <sys/types.h>

namespace qdx::test {

// A private X server (Xvfb) for tests that need a real display: screen grabs, key grabs, windows
// on the xcb platform. It picks a free display number itself and sets DISPLAY while it lives.
class XvfbServer {
public:
    explicit XvfbServer(int width = 640, int height = 480, int depth = 24);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return m_pid > 0 && !m_display.isEmpty(); }
    QString display() const { return m_display; } // ":N"

private:
    pid_t m_pid = -1;
    QString m_display;
    QByteArray m_previousDisplay;
    bool m_hadDisplay = false;
};

} // namespace qdx::test
