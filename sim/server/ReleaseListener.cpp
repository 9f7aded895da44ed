#include "sim/server/ReleaseListener.h"

#include "sim/server/ServerConnection.h"

#include <QTcpSocket>

ReleaseListener::ReleaseListener(ReleaseServerState *sharedState, SocketMaker socketMaker,
                                 QObject *parent)
    : QTcpServer(parent)
    , state(sharedState)
    , makeSocket(std::move(socketMaker))
{
}

quint16 ReleaseListener::listenOnLoopback()
{
    return listen(QHostAddress::LocalHost, 0) ? serverPort() : 0;
}

void ReleaseListener::incomingConnection(qintptr socketDescriptor)
{
    QTcpSocket *socket = nullptr;
    if (makeSocket) {
        socket = makeSocket(socketDescriptor);
    } else {
        socket = new QTcpSocket();
        socket->setSocketDescriptor(socketDescriptor);
    }
    auto *connection = new ServerConnection(socket, state, this);
    connect(connection, &ServerConnection::requestReceived, this,
            &ReleaseListener::requestReceived);
    connect(connection, &ServerConnection::requestEnded, this, &ReleaseListener::requestEnded);
}
