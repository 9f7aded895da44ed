#pragma once

#include "sim/server/ReleaseServerState.h"

#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

// The listening socket of the test server, living on the server's own thread. With a
// certificate it speaks TLS on every connection.
class ReleaseListener : public QTcpServer
{
    Q_OBJECT
public:
    explicit ReleaseListener(ReleaseServerState *state, QObject *parent = nullptr);

    void setTls(const QSslCertificate &certificate, const QSslKey &key);
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
    QSslCertificate certificate;
    QSslKey key;
};
