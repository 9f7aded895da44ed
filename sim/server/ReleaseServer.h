#pragma once

#include "sim/server/ReleaseListener.h"
#include "sim/server/ReleaseServerState.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>

// A release server on 127.0.0.1 for the demo, benchmarks and tests. It answers on its own
// thread, so a busy or blocked caller never slows it down; every method here may be called
// from the thread that created it, and the signals arrive on that thread.
//
//   ReleaseServer server;
//   server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
//   server.addFile("fw.tvq", bytes);
//   Downloader downloader(server.baseUrl());
class ReleaseServer : public QObject
{
    Q_OBJECT
public:
    explicit ReleaseServer(QObject *parent = nullptr);
    ~ReleaseServer() override;

    bool isListening() const { return port != 0; }
    // "http://127.0.0.1:<port>" (the scheme given), without trailing slash.
    QUrl baseUrl() const;

    void setCatalogue(const QByteArray &json);
    void addFile(const QString &name, const QByteArray &bytes);
    // Streams the file from disk on every request, for files too large to hold twice.
    void addFileFromPath(const QString &name, const QString &path);
    // Sends the file in pieces of this many bytes, this far apart, so its download can be
    // watched; 0 bytes: at once.
    void setTrickle(const QString &name, int bytes, int intervalMs);
    // Null: none.
    void setResponder(ReleaseServerState::Responder *responder);

protected:
    // The sockets of the accepted connections made by makeSocket, under a URL of this scheme.
    ReleaseServer(ReleaseListener::SocketMaker makeSocket, const QString &scheme,
                  QObject *parent = nullptr);

signals:
    void requestReceived(const QString &method, const QString &path);
    void requestEnded(const QString &method, const QString &path, qint64 bodyBytesSent,
                      bool complete);

private:
    ReleaseServerState state;
    QThread thread;
    ReleaseListener *listener = nullptr;
    QString scheme;
    quint16 port = 0;
};
