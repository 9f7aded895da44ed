#include "sim/server/ReleaseServer.h"

ReleaseServer::ReleaseServer(QObject *parent)
    : ReleaseServer(ReleaseListener::SocketMaker(), QStringLiteral("http"), parent)
{
}

ReleaseServer::ReleaseServer(ReleaseListener::SocketMaker makeSocket, const QString &urlScheme,
                             QObject *parent)
    : QObject(parent)
    , scheme(urlScheme)
{
    listener = new ReleaseListener(&state, std::move(makeSocket));
    listener->moveToThread(&thread);
    connect(&thread, &QThread::finished, listener, &QObject::deleteLater);
    connect(listener, &ReleaseListener::requestReceived, this, &ReleaseServer::requestReceived,
            Qt::QueuedConnection);
    connect(listener, &ReleaseListener::requestEnded, this, &ReleaseServer::requestEnded,
            Qt::QueuedConnection);
    thread.setObjectName(QStringLiteral("release-server"));
    thread.start();
    QMetaObject::invokeMethod(listener, &ReleaseListener::listenOnLoopback,
                              Qt::BlockingQueuedConnection, &port);
}

ReleaseServer::~ReleaseServer()
{
    thread.quit();
    thread.wait();
}

QUrl ReleaseServer::baseUrl() const
{
    QUrl url;
    url.setScheme(scheme);
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port);
    return url;
}

void ReleaseServer::setCatalogue(const QByteArray &json)
{
    state.setCatalogue(json);
}

void ReleaseServer::addFile(const QString &name, const QByteArray &bytes)
{
    state.addFile(name, bytes);
}

void ReleaseServer::addFileFromPath(const QString &name, const QString &path)
{
    state.addFileFromPath(name, path);
}

void ReleaseServer::setTrickle(const QString &name, int bytes, int intervalMs)
{
    state.setTrickle(name, bytes, intervalMs);
}

void ReleaseServer::setResponder(ReleaseServerState::Responder *responder)
{
    state.setResponder(responder);
}
