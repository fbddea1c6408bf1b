#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qdx::test {

QString sourceDir() {
    return QStringLiteral(QDX_SOURCE_DIR);
}

QString binaryDir() {
    return QStringLiteral(QDX_BINARY_DIR);
}

QString builtProgram(const QString& name) {
    return binaryDir() + QStringLiteral("/bin/") + name;
}

bool haveTool(const QString& name) {
    return !QStandardPaths::findExecutable(name).isEmpty();
}

// Programs start through posix_spawn, not QProcess: ThreadSanitizer cannot take QProcess's
// clone(), and the engine's threaded tests run under it with their peers.
ProcessResult run(const QString& program, const QStringList& arguments, int timeoutMs,
                  const QByteArray& input, const QStringList& extraEnvironment) {
    ProcessResult result;
    std::signal(SIGPIPE, SIG_IGN); // a peer that stops reading its input fails the write only

    std::vector<QByteArray> argStore{QFile::encodeName(program)};
    for (const QString& a : arguments)
        argStore.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStore;
    for (char** e = environ; *e; ++e) {
        const QByteArray entry(*e);
        const QByteArray key = entry.left(entry.indexOf('=') + 1);
        const bool replaced =
            std::any_of(extraEnvironment.begin(), extraEnvironment.end(),
                        [&](const QString& extra) { return extra.toLocal8Bit().startsWith(key); });
        if (!replaced)
            envStore.push_back(entry);
    }
    for (const QString& extra : extraEnvironment)
        envStore.push_back(extra.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return result;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return result;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        for (int fd : {in[0], in[1], out[0], out[1]})
            close(fd);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[0], out[1], err[1]})
        close(fd);
    result.started = spawned == 0;
    if (!result.started) {
        for (int fd : {in[1], out[0], err[0]})
            close(fd);
        return result;
    }

    // Feed the input and gather both outputs until they end or the time is up.
    int inFd = in[1];
    qsizetype written = 0;
    if (input.isEmpty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, fcntl(inFd, F_GETFL) | O_NONBLOCK);
    }
    int outFds[2] = {out[0], err[0]};
    QByteArray* sinks[2] = {&result.out, &result.err};
    QElapsedTimer clock;
    clock.start();
    bool timedOut = false;
    bool exited = false;
    int status = 0;
    while (outFds[0] >= 0 || outFds[1] >= 0) {
        // A program that leaves a child of its own holding the outputs has ended all the same:
        // what is there is read without waiting for the child.
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            for (int k = 0; k < 2; ++k)
                if (outFds[k] >= 0)
                    fcntl(outFds[k], F_SETFL, fcntl(outFds[k], F_GETFL) | O_NONBLOCK);
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[3];
        int count = 0;
        for (int fd : {outFds[0], outFds[1]})
            if (fd >= 0)
                fds[count++] = pollfd{fd, POLLIN, 0};
        if (inFd >= 0)
            fds[count++] = pollfd{inFd, POLLOUT, 0};
        const int ready = poll(fds, nfds_t(count), int(std::min<qint64>(left, exited ? 0 : 100)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready == 0 && exited)
            break;
        for (int i = 0; i < count; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == inFd) {
                const ssize_t n = write(inFd, input.constData() + written,
                                        size_t(std::min<qsizetype>(input.size() - written, 65536)));
                if (n > 0)
                    written += n;
                if (n < 0 || written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            for (int k = 0; k < 2; ++k) {
                if (fds[i].fd != outFds[k])
                    continue;
                char buffer[65536];
                const ssize_t n = read(outFds[k], buffer, sizeof buffer);
                if (n > 0) {
                    sinks[k]->append(buffer, n);
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN) || exited) {
                    close(outFds[k]);
                    outFds[k] = -1;
                }
            }
        }
    }
    for (int fd : {inFd, outFds[0], outFds[1]})
        if (fd >= 0)
            close(fd);
    if (timedOut && !exited) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return result;
    }
    while (!exited && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.finished = true;
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

TempDir::TempDir() : m_dir(QStringLiteral("/tmp/qdx-test-XXXXXX")) {}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size() && file.flush();
}

} // namespace qdx::test
