#include "recorder/SingleInstance.h"

#include "platform/core/AppFolder.h"
#include "platform/core/Prompts.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The running recorder's answer once it has taken a command line.
constexpr char kAccepted = 'A';
// A command line is short; anything longer is not one of ours.
constexpr qint64 kMaxMessage = 64 * 1024;
// What an answer is given to reach its sender before the sender stops waiting, in milliseconds.
constexpr qint64 kAnswerTime = 100;

} // namespace

SingleInstance::SingleInstance(const QString& folder, const QString& key, QObject* parent)
    : QObject(parent), m_folder(folder), m_key(key) {}

SingleInstance::~SingleInstance() {
    if (m_server) {
        m_server->close();
        QLocalServer::removeServer(socketPath());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
}

QString SingleInstance::sessionFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

QString SingleInstance::sessionKey() {
    // [host]:display[.screen]: the screen is not part of the session, and "unix" is the local
    // host's other spelling.
    QString display = qEnvironmentVariable("DISPLAY");
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        QString host = display.left(colon);
        QString number = display.mid(colon + 1);
        if (const qsizetype dot = number.indexOf(QLatin1Char('.')); dot >= 0)
            number.truncate(dot);
        if (host == QLatin1String("unix"))
            host.clear();
        display = host + QLatin1Char(':') + number;
    }
    for (QChar& c : display)
        if (!c.isLetterOrNumber() && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    return QStringLiteral("qdxcapture-%1-%2").arg(::getuid()).arg(display);
}

QString SingleInstance::socketPath() const {
    return QDir(m_folder).filePath(m_key + QStringLiteral(".socket"));
}

QString SingleInstance::lockPath() const {
    return QDir(m_folder).filePath(m_key + QStringLiteral(".lock"));
}

bool SingleInstance::becomePrimary() {
    if (m_server)
        return true;
    QDir().mkpath(m_folder);
    const QByteArray name = QFile::encodeName(lockPath());
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error =
            QStringLiteral("cannot open %1: %2")
                .arg(QString::fromLocal8Bit(name), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    // The lock file names the running recorder's process, for a later one that gets no answer.
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    // Without it, only a later recorder's message misses the process id.
    const bool named = ::ftruncate(fd, 0) == 0 &&
                       ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) == pid.size();
    Q_UNUSED(named);
    // The lock is ours, so a socket file left there belongs to a recorder that has ended.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath())) {
        // Still the only recorder (the lock says so), only unreachable for later ones.
        m_error = m_server->errorString();
        return true;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() > kMaxMessage) {
                socket->abort();
                return;
            }
            QDataStream in(socket);
            in.startTransaction();
            QStringList arguments;
            qint64 deadline = 0;
            in >> arguments >> deadline;
            if (!in.commitTransaction())
                return; // the rest is still on its way
            if (QDateTime::currentMSecsSinceEpoch() + kAnswerTime >= deadline) {
                // Its sender has given up waiting (or will before the answer reaches it) and
                // tells the user that this recorder does not answer: nothing may start after all.
                socket->abort();
                return;
            }
            // Answer first: the command may open a dialog, and the sender must not wait for it.
            socket->write(&kAccepted, 1);
            socket->flush();
            socket->disconnectFromServer();
            Q_EMIT commandReceived(arguments);
        });
    }
}

bool SingleInstance::sendToPrimary(const QStringList& arguments, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    // The running recorder may have taken its lock an instant ago and not yet be listening.
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(qMax(1, int(timeoutMs - clock.elapsed())))) {
            QByteArray message;
            QDataStream out(&message, QIODevice::WriteOnly);
            // With the moment the sender stops waiting: a command read later is stale.
            out << arguments
                << qint64(QDateTime::currentMSecsSinceEpoch() + timeoutMs - clock.elapsed());
            socket.write(message);
            if (!socket.waitForBytesWritten(qMax(1, int(timeoutMs - clock.elapsed()))))
                return false;
            while (socket.bytesAvailable() < 1)
                if (!socket.waitForReadyRead(qMax(1, int(timeoutMs - clock.elapsed()))))
                    return false;
            char answer = 0;
            return socket.read(&answer, 1) == 1 && answer == kAccepted;
        }
        if (clock.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(50);
    }
}

qint64 SingleInstance::primaryProcess() const {
    QFile file(lockPath());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.read(32).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

QString SingleInstance::unansweredText() const {
    const qint64 pid = primaryProcess();
    if (pid == 0)
        return QStringLiteral("The recorder that is running does not answer; no recording can "
                              "start while it runs.");
    // The program the process runs, as the process list shows it.
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    QString program;
    if (cmdline.open(QIODevice::ReadOnly))
        program = QFileInfo(QFile::decodeName(cmdline.readAll().split('\0').value(0))).fileName();
    if (program.isEmpty())
        program = QStringLiteral("QDXCapture");
    return QStringLiteral("The recorder that is running (%1, process %2) does not answer; no "
                          "recording can start while it runs.\rEnd that process (kill %2) and "
                          "try again.")
        .arg(program)
        .arg(pid);
}

SingleInstance::Claim SingleInstance::claim(const QStringList& arguments, int timeoutMs) {
    if (becomePrimary())
        return Claim::Primary;
    if (sendToPrimary(arguments, timeoutMs))
        return Claim::HandedOver;
    // The running recorder may just have ended.
    if (becomePrimary())
        return Claim::Primary;
    QString text = unansweredText();
    if (!m_error.isEmpty())
        text += QStringLiteral("\r(%1)").arg(m_error);
    qdx::prompts().error(qdx::applicationTitle(), text);
    return Claim::Unanswered;
}
