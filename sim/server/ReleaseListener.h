#pragma once

#include "sim/server/ReleaseServerState.h"

#include <QTcpServer>

#include <functional>

class QTcpSocket;

// The listening socket of the release server, living on the server's own thread. A socket maker
// (a test's TLS) makes the socket of each accepted connection; without one it is plain TCP.
class ReleaseListener : public QTcpServer
{
    Q_OBJECT
public:
    using SocketMaker = std::function<QTcpSocket *(qintptr socketDescriptor)>;

    ReleaseListener(ReleaseServerState *state, SocketMaker makeSocket, QObject *parent = nullptr);

    // Listens on 127.0.0.1 with a port of the system's choice; returns the port or 0.
    Q_INVOKABLE quint16 listenOnLoopback();

signals:
    void requestReceived(const QString &method, const QString &path);
    void requestEnded(const QString &method, const QString &path, qint64 bodyBytesSent,
                      bool complete);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    ReleaseServerState *state;
    SocketMaker makeSocket;
};
