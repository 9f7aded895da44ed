#pragma once

#include "sim/server/HttpRequestHead.h"
#include "sim/server/ReleaseServerState.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

// One client connection of the release server: reads requests (keep-alive included) and answers
// each, streaming bodies in bounded slices. A test's responder answers through the public calls.
class ServerConnection : public QObject
{
    Q_OBJECT
public:
    // How a response ends once its body is out: ready for the next request, a clean close that
    // leaves the body short, a reset, or silence with the connection open.
    enum class End { KeepAlive, Close, Reset, Stall };

    ServerConnection(QTcpSocket *socket, ReleaseServerState *state, QObject *parent = nullptr);

    static QByteArray statusLine(int status, const QByteArray &reason);
    // "200 OK" for a file, with these further header lines and the blank line.
    static QByteArray fileHeaders(const QByteArray &more);
    static QByteArray lengthHeader(qint64 length);

    void sendSimple(int status, const QByteArray &reason, const QByteArray &body, bool withBody,
                    const QByteArray &extraHeaders = QByteArray());
    void sendNotFound(bool withBody);
    // A head without a body; the response is complete.
    void sendHead(const QByteArray &head);
    // The headers, then limit bytes of bytes (or of the entry's file when bytes is empty).
    void startBody(const QByteArray &headers, const ReleaseServerState::Entry &entry,
                   const QByteArray &bytes, qint64 limit, bool chunkedEncoding, End endAction);
    // The headers, then the entry's whole body in pieces of bytes every intervalMs.
    void startTrickle(const QByteArray &headers, const ReleaseServerState::Entry &entry, int bytes,
                      int intervalMs);
    // Never answers; the connection stays open.
    void stall();
    // The connection closes once the response is complete.
    void closeAfterResponse() { closeAfter = true; }

signals:
    void requestReceived(const QString &method, const QString &path);
    // complete is false when the connection ended (either side) before the answer was whole.
    void requestEnded(const QString &method, const QString &path, qint64 bodyBytesSent,
                      bool complete);

private:
    void onReadyRead();
    void onDisconnected();
    void handleRequest(const HttpRequestHead &head);
    void pump();
    void trickle();
    qint64 readSlice(char *out, qint64 max);
    void report(bool complete);
    void finishResponse();
    void resetConnection();

    QTcpSocket *socket;
    ReleaseServerState *state;
    QByteArray input;
    bool busy = false;
    QString currentMethod;
    QString currentPath;
    bool closeAfter = false;
    bool reported = true;

    // The body being sent.
    QByteArray memory;
    QFile file;
    qint64 bodyLimit = 0;
    qint64 sent = 0;
    bool chunked = false;
    End end = End::KeepAlive;
    QTimer trickleTimer;
    int trickleBytes = 0;
    bool ending = false;
};
