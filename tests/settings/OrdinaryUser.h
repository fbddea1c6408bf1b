#pragma once

// Runs a piece of a test with the rights of an ordinary user. Root may write into any folder, so
// when the tests run as root the piece runs in a child process that has given up root for the
// "nobody" account; otherwise it runs directly. The piece returns an exit code (0 for success).

#include <QFile>
#include <QString>

#include <functional>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qdx::test {

inline int asOrdinaryUser(const std::function<int()>& body) {
    if (::geteuid() != 0)
        return body();
    const pid_t child = ::fork();
    if (child < 0)
        return 98;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return 97;
    return WEXITSTATUS(status);
}

// Opens a test folder to other users (the child above runs as "nobody").
inline void openToEveryone(const QString& path, mode_t mode) {
    ::chmod(QFile::encodeName(path).constData(), mode);
}

} // namespace qdx::test
