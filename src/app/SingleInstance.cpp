#include "SingleInstance.h"

#include "foundation/NativeFile.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {
// A hand-over is a few paths; anything much larger is not one of ours.
constexpr qint64 kMaxMessageBytes = 1 << 20;
constexpr quint32 kMagic = 0x56656c32; // "Vel2": names as bytes
} // namespace

SingleInstance::SingleInstance(const QString& serverName, QObject* parent)
    : QObject(parent), _serverName(serverName)
{
}

SingleInstance::~SingleInstance()
{
    if (_server)
        _server->close();
}

QString SingleInstance::defaultServerName()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable())
        return QDir(runtime).filePath(QStringLiteral("velluma.socket"));
    return QStringLiteral("velluma-%1").arg(::getuid());
}

bool SingleInstance::isListening() const
{
    return _server && _server->isListening();
}

bool SingleInstance::listen()
{
    if (isListening())
        return true;
    if (!_server) {
        _server = new QLocalServer(this);
        _server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    }
    // Ask first: listening with access options renames a fresh socket over the name, which
    // would quietly take it from a live instance. Nobody answering means the socket file
    // is stale (a crash) and may go.
    QLocalSocket probe;
    probe.connectToServer(_serverName);
    if (probe.waitForConnected(500)) {
        probe.abort();
        return false;
    }
    QLocalServer::removeServer(_serverName);
    return _server->listen(_serverName);
}

QByteArray SingleInstance::encodeMessage(const QList<QByteArray>& names)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kMagic << names;
    return data;
}

bool SingleInstance::decodeMessage(const QByteArray& data, QList<QByteArray>* names)
{
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    QList<QByteArray> list;
    in >> magic;
    if (magic != kMagic)
        return false;
    in >> list;
    if (in.status() != QDataStream::Ok)
        return false;
    if (names)
        *names = list;
    return true;
}

bool SingleInstance::sendToRunningInstance(const QList<QByteArray>& names, int timeoutMs) const
{
    QList<QByteArray> absolute;
    for (const QByteArray& name : names)
        absolute << NativeFile::absoluteName(name);
    QLocalSocket socket;
    socket.connectToServer(_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(encodeMessage(absolute));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket* socket = _server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [socket] {
            if (socket->bytesAvailable() + socket->property("received").toByteArray().size() >
                kMaxMessageBytes) {
                socket->abort();
                return;
            }
            socket->setProperty("received",
                                socket->property("received").toByteArray() + socket->readAll());
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { readClient(socket); });
        if (socket->state() != QLocalSocket::ConnectedState)
            readClient(socket);
    }
}

void SingleInstance::readClient(QLocalSocket* socket)
{
    if (socket->property("handled").toBool())
        return;
    socket->setProperty("handled", true);
    QByteArray data = socket->property("received").toByteArray();
    if (data.size() + socket->bytesAvailable() <= kMaxMessageBytes)
        data += socket->readAll();
    socket->deleteLater();
    QList<QByteArray> names;
    if (data.size() <= kMaxMessageBytes && decodeMessage(data, &names))
        emit filesReceived(names);
}
