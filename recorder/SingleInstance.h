#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One recorder per user session: the first QDXCapture of a user on a display holds a lock file and
// listens on a local socket beside it; a later one finds the lock taken, hands its command line to
// the first through the socket and ends. The lock is an advisory lock on an open file, so it goes
// with the process that held it, also when that process is killed.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `folder` holds the lock file and the socket (a per-user folder); `key` names them.
    SingleInstance(const QString& folder, const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // The folder and key of this user's session on this display: the per-user runtime folder, and
    // "qdxcapture-" with the user id and the display.
    static QString sessionFolder();
    static QString sessionKey();

    // Takes the lock and starts listening when no other process holds it. True: this process is
    // the running recorder; false: another one is (or the lock could not be taken, see error()).
    bool becomePrimary();
    // Hands a command line to the running recorder and waits until it has taken it. False when
    // no recorder answered within the time.
    bool sendToPrimary(const QStringList& arguments, int timeoutMs = 5000);

    QString error() const { return m_error; }
    QString socketPath() const;

Q_SIGNALS:
    // A later QDXCapture's command line (its arguments without the program name).
    void commandReceived(const QStringList& arguments);

private:
    void acceptConnections();

    QString m_folder;
    QString m_key;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
    QString m_error;
};
