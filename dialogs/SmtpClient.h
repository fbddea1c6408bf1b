#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <cstdint>

class QTcpSocket;

// A small SMTP client for the contact message: one exchange per `send` on a TCP connection,
// without authentication: the 220 greeting, EHLO (HELO when EHLO is refused), RSET, MAIL FROM,
// RCPT TO, DATA, the message with its lines that begin with "." doubled, ".", and QUIT. Every step
// has a time limit, so a silent server ends in a failure instead of a frozen program, and the whole
// exchange has one more, so a server that trickles its answers a byte at a time (each byte
// starting the step's wait anew) cannot hold it either; the connection is closed after a failure
// too. It waits in a local event loop that leaves out user
// input, so the windows stay painted while the exchange runs.
class SmtpClient : public QObject {
    Q_OBJECT
public:
    explicit SmtpClient(QObject* parent = nullptr);
    ~SmtpClient() override;

    // The time limit of each step, in milliseconds.
    void setTimeout(int milliseconds) { m_timeout = milliseconds; }
    int timeout() const { return m_timeout; }
    // The time limit of the whole exchange, from the connection to the answer after the final
    // ".", in milliseconds.
    void setTotalTimeout(int milliseconds) { m_totalTimeout = milliseconds; }
    int totalTimeout() const { return m_totalTimeout; }

    // Sends `message` (header and body, lines ended by CRLF) from `sender` to `recipient` through
    // the server. True when the server took the message (answered 250 after the final ".").
    bool send(const QString& host, uint16_t port, const QString& sender, const QString& recipient,
              const QByteArray& message);

    // What went wrong in the last `send`, for the log: the step and the server's answer.
    const QString& lastError() const { return m_error; }

    // The message with its lines that begin with "." doubled and ended by CRLF, as DATA sends it.
    static QByteArray dotStuffed(const QByteArray& message);

private:
    bool connectTo(const QString& host, uint16_t port);
    bool command(const QByteArray& line, int expected, int alsoAccepted = 0);
    bool reply(int& code);
    bool waitForData();
    // The wait a step may still take: its own limit, cut to what is left of the exchange's.
    int stepWait() const;
    bool fail(const QString& what);
    void close();

    QTcpSocket* m_socket;
    QByteArray m_buffer;
    QString m_error;
    QByteArray m_lastReply;
    int m_timeout = 30000;
    int m_totalTimeout = 60000;
    QDeadlineTimer m_deadline;
};
