#include "dialogs/SmtpClient.h"

#include <QEventLoop>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

SmtpClient::SmtpClient(QObject* parent) : QObject(parent), m_socket(new QTcpSocket(this)) {}

SmtpClient::~SmtpClient() {
    m_socket->abort();
}

QByteArray SmtpClient::dotStuffed(const QByteArray& message) {
    QByteArray text = message;
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    QByteArray out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith('.'))
            out.append('.');
        out.append(line);
        out.append("\r\n");
    }
    // split() gives an empty last piece after a final line break: drop its extra CRLF.
    if (text.endsWith('\n'))
        out.chop(2);
    return out;
}

bool SmtpClient::fail(const QString& what) {
    m_error = what;
    if (m_deadline.hasExpired())
        m_error += QStringLiteral(" (the exchange took longer than %1 ms)").arg(m_totalTimeout);
    if (!m_lastReply.isEmpty())
        m_error += QStringLiteral(": ") + QString::fromUtf8(m_lastReply.trimmed());
    close();
    return false;
}

void SmtpClient::close() {
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        // A polite end also after a failure; the answer is not waited for long.
        m_socket->write("QUIT\r\n");
        m_socket->flush();
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState) {
            QEventLoop loop;
            QTimer timer;
            timer.setSingleShot(true);
            connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
            connect(m_socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
            timer.start(std::min(m_timeout, 2000));
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
    }
    m_socket->abort();
    m_buffer.clear();
}

int SmtpClient::stepWait() const {
    return int(std::clamp<qint64>(m_deadline.remainingTime(), 0, m_timeout));
}

bool SmtpClient::connectTo(const QString& host, uint16_t port) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(m_socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    connect(m_socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    m_socket->connectToHost(host, port);
    if (m_socket->state() != QAbstractSocket::ConnectedState &&
        m_socket->state() != QAbstractSocket::UnconnectedState) {
        timer.start(stepWait());
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

bool SmtpClient::waitForData() {
    if (m_socket->state() != QAbstractSocket::ConnectedState || m_deadline.hasExpired())
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(m_socket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
    connect(m_socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    connect(m_socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    timer.start(stepWait());
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (m_socket->bytesAvailable() > 0)
        return true;
    return false;
}

bool SmtpClient::reply(int& code) {
    // A reply is one or more lines "ddd-text" ended by a line "ddd text" (or just "ddd"). A
    // server that keeps sending continuation lines is stopped by the exchange's time limit.
    for (;;) {
        if (m_deadline.hasExpired())
            return false;
        const qsizetype end = m_buffer.indexOf("\n");
        if (end >= 0) {
            const QByteArray line = m_buffer.left(end + 1).trimmed();
            m_buffer.remove(0, end + 1);
            m_lastReply = line;
            if (line.size() < 3)
                return false;
            bool ok = false;
            const int value = line.left(3).toInt(&ok);
            if (!ok)
                return false;
            if (line.size() == 3 || line.at(3) == ' ') {
                code = value;
                return true;
            }
            continue;
        }
        if (m_buffer.size() > 64 * 1024) // no reply line is that long
            return false;
        if (m_socket->bytesAvailable() == 0 && !waitForData())
            return false;
        m_buffer.append(m_socket->readAll());
    }
}

bool SmtpClient::command(const QByteArray& line, int expected, int alsoAccepted) {
    if (!line.isEmpty()) {
        if (m_socket->write(line + "\r\n") < 0)
            return false;
    }
    int code = 0;
    if (!reply(code))
        return false;
    return code == expected || (alsoAccepted != 0 && code == alsoAccepted);
}

bool SmtpClient::send(const QString& host, uint16_t port, const QString& sender,
                      const QString& recipient, const QByteArray& message) {
    m_error.clear();
    m_lastReply.clear();
    m_buffer.clear();
    m_deadline.setRemainingTime(m_totalTimeout);
    if (host.isEmpty())
        return fail(QStringLiteral("no mail server configured"));
    if (!connectTo(host, port))
        return fail(QStringLiteral("cannot connect to %1:%2: %3")
                        .arg(host)
                        .arg(port)
                        .arg(m_socket->errorString()));
    if (!command({}, 220))
        return fail(QStringLiteral("no greeting"));
    QString localName = QHostInfo::localHostName();
    if (localName.isEmpty())
        localName = QStringLiteral("localhost");
    const QByteArray name = localName.toUtf8();
    if (!command("EHLO " + name, 250)) {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return fail(QStringLiteral("EHLO"));
        if (!command("HELO " + name, 250))
            return fail(QStringLiteral("HELO"));
    }
    if (!command("RSET", 250))
        return fail(QStringLiteral("RSET"));
    if (!command("MAIL FROM:<" + sender.toUtf8() + '>', 250))
        return fail(QStringLiteral("MAIL FROM"));
    if (!command("RCPT TO:<" + recipient.toUtf8() + '>', 250, 251))
        return fail(QStringLiteral("RCPT TO"));
    if (!command("DATA", 354))
        return fail(QStringLiteral("DATA"));
    if (m_socket->write(dotStuffed(message)) < 0)
        return fail(QStringLiteral("message"));
    if (!command(".", 250))
        return fail(QStringLiteral("end of message"));
    // The server has the message; the end of the exchange cannot undo that.
    command("QUIT", 221);
    m_socket->disconnectFromHost();
    m_socket->abort();
    return true;
}
