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
    // "qdxcapture-" with the user id and the display (host and display number: ":0", ":0.0" and
    // "unix:0" are one session).
    static QString sessionFolder();
    static QString sessionKey();

    // Takes the lock and starts listening when no other process holds it. True: this process is
    // the running recorder; false: another one is (or the lock could not be taken, see error()).
    bool becomePrimary();
    // Hands a command line to the running recorder and waits until it has taken it. False when
    // no recorder answered within the time.
    bool sendToPrimary(const QStringList& arguments, int timeoutMs = 5000);

    enum class Claim { Primary, HandedOver, Unanswered };
    // What a starting recorder does: become the running recorder, or hand the command line to the
    // one running. When that one does not answer (hung, or not listening), the user is told so
    // through the program's prompts, with the name and id of its process.
    Claim claim(const QStringList& arguments, int timeoutMs = 5000);
    // The process id the running recorder wrote into the lock file; 0 when unknown.
    qint64 primaryProcess() const;
    // The text shown when the running recorder does not answer.
    QString unansweredText() const;

    QString error() const { return m_error; }
    QString socketPath() const;
    QString lockPath() const;

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
