#include "recorder/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
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
    QString display = qEnvironmentVariable("DISPLAY");
    for (QChar& c : display)
        if (!c.isLetterOrNumber() && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    return QStringLiteral("qdxcapture-%1-%2").arg(::getuid()).arg(display);
}

QString SingleInstance::socketPath() const {
    return QDir(m_folder).filePath(m_key + QStringLiteral(".socket"));
}

bool SingleInstance::becomePrimary() {
    if (m_server)
        return true;
    QDir().mkpath(m_folder);
    const QByteArray lockPath =
        QFile::encodeName(QDir(m_folder).filePath(m_key + QStringLiteral(".lock")));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = QStringLiteral("cannot open %1: %2")
                      .arg(QString::fromLocal8Bit(lockPath),
                           QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
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
            in >> arguments;
            if (!in.commitTransaction())
                return; // the rest is still on its way
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
            out << arguments;
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
