#include "sim/server/ReleaseListener.h"

#include "sim/server/ServerConnection.h"

#include <QSslSocket>

ReleaseListener::ReleaseListener(ReleaseServerState *sharedState, QObject *parent)
    : QTcpServer(parent)
    , state(sharedState)
{
}

void ReleaseListener::setTls(const QSslCertificate &tlsCertificate, const QSslKey &tlsKey)
{
    certificate = tlsCertificate;
    key = tlsKey;
}

quint16 ReleaseListener::listenOnLoopback()
{
    return listen(QHostAddress::LocalHost, 0) ? serverPort() : 0;
}

void ReleaseListener::incomingConnection(qintptr socketDescriptor)
{
    QTcpSocket *socket = nullptr;
    if (certificate.isNull()) {
        socket = new QTcpSocket();
        socket->setSocketDescriptor(socketDescriptor);
    } else {
        auto *tls = new QSslSocket();
        tls->setSocketDescriptor(socketDescriptor);
        tls->setLocalCertificate(certificate);
        tls->setPrivateKey(key);
        tls->setPeerVerifyMode(QSslSocket::VerifyNone);
        // A client that refuses our certificate simply hangs up; nothing to do here.
        connect(tls, &QSslSocket::sslErrors, tls, [] {});
        tls->startServerEncryption();
        socket = tls;
    }
    auto *connection = new ServerConnection(socket, state, this);
    connect(connection, &ServerConnection::requestReceived, this,
            &ReleaseListener::requestReceived);
    connect(connection, &ServerConnection::requestEnded, this, &ReleaseListener::requestEnded);
}
