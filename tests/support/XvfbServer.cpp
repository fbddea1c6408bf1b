#include "tests/support/XvfbServer.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qdx::test {

XvfbServer::XvfbServer(int width, int height, int depth) {
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    const QByteArray screen = QByteArray::number(width) + 'x' + QByteArray::number(height) + 'x' +
                              QByteArray::number(depth);
    const QByteArray fdText = QByteArray::number(fds[1]);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(fds[0]);
        const char* argv[] = {"Xvfb",     "-displayfd", fdText.constData(), "-screen",
                              "0",        screen.constData(), "-nolisten",  "tcp",
                              "-noreset", "+extension",       "MIT-SHM",    nullptr};
        // Keep the test's output clean: the server's own chatter goes nowhere.
        if (std::freopen("/dev/null", "w", stderr) == nullptr)
            _exit(127);
        ::execvp("Xvfb", const_cast<char* const*>(argv));
        _exit(127);
    }
    ::close(fds[1]);
    if (m_pid < 0) {
        ::close(fds[0]);
        return;
    }
    QByteArray number;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 20000) > 0) {
        char c;
        const ssize_t n = ::read(fds[0], &c, 1);
        if (n <= 0 || c == '\n')
            break;
        number.append(c);
    }
    ::close(fds[0]);
    if (number.isEmpty()) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    m_hadDisplay = qEnvironmentVariableIsSet("DISPLAY");
    m_previousDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", m_display.toLatin1());
}

XvfbServer::~XvfbServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (!m_display.isEmpty()) {
        if (m_hadDisplay)
            qputenv("DISPLAY", m_previousDisplay);
        else
            qunsetenv("DISPLAY");
    }
}

} // namespace qdx::test
