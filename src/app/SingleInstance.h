#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One running Velluma per user. The first process listens on a local socket; a later launch
// connects, hands over the files it was given and exits, so the desktop's "open with"
// lands in the window that is already up.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // serverName: a bare name (placed by Qt in the temporary folder) or an absolute socket
    // path. The default is private to the user.
    explicit SingleInstance(const QString& serverName = defaultServerName(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // XDG_RUNTIME_DIR/velluma.socket when the session has a runtime folder (only the user
    // can enter it), otherwise a name carrying the user id.
    static QString defaultServerName();

    QString serverName() const { return _serverName; }

    // Starts listening. False when another instance answers on the name; a socket left
    // behind by a crashed instance is removed and taken over.
    bool listen();
    bool isListening() const;

    // Sends the names, made absolute against the current folder, to the running instance.
    // They go as the bytes the file system holds, which need not be UTF-8. An empty list
    // only asks it to come to the front. False when nobody answers.
    bool sendToRunningInstance(const QList<QByteArray>& names, int timeoutMs = 3000) const;

    // The wire format: a QDataStream of a list of byte arrays. Public for the tests.
    static QByteArray encodeMessage(const QList<QByteArray>& names);
    // False when the data is no complete message.
    static bool decodeMessage(const QByteArray& data, QList<QByteArray>* names);

signals:
    // A later launch handed over these files (possibly none: it only wants the window).
    void filesReceived(const QList<QByteArray>& names);

private:
    void acceptConnection();
    void readClient(QLocalSocket* socket);

    QString _serverName;
    QLocalServer* _server = nullptr;
};
