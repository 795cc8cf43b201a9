#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <memory>

// A tiny HTTP server on the loopback address that answers each request by its path, as a
// frame's or an update feed's web server would: enough to test downloads without a network.
class LocalHttpServer : public QObject {
public:
    LocalHttpServer()
    {
        _server.listen(QHostAddress::LocalHost);
        connect(&_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = _server.nextPendingConnection()) {
                auto request = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                    request->append(socket->readAll());
                    if (request->contains("\r\n\r\n"))
                        respond(socket, request->split(' ').value(1));
                });
            }
        });
    }
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(_server.serverPort()).arg(path));
    }

protected:
    // Writes the whole answer; a path that should never be answered writes nothing.
    virtual void respond(QTcpSocket* socket, const QByteArray& path) = 0;

private:
    QTcpServer _server;
};
