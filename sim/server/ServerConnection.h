#pragma once

#include "sim/server/HttpRequestHead.h"
#include "sim/server/ReleaseServerState.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

// One client connection of the test server: reads requests (keep-alive included) and answers
// each following the rule of the file asked for, streaming bodies in bounded slices.
class ServerConnection : public QObject
{
    Q_OBJECT
public:
    ServerConnection(QTcpSocket *socket, ReleaseServerState *state, QObject *parent = nullptr);

signals:
    void requestReceived(const QString &method, const QString &path);
    // complete is false when the connection ended (either side) before the answer was whole.
    void requestEnded(const QString &method, const QString &path, qint64 bodyBytesSent,
                      bool complete);

private:
    enum class End { KeepAlive, Close, Reset, Stall };

    void onReadyRead();
    void onDisconnected();
    void handleRequest(const HttpRequestHead &head);
    void answerHead(const ReleaseServerState::Entry &entry);
    void answerGet(const ReleaseServerState::Entry &entry, bool acceptsDeflate);
    void sendSimple(int status, const QByteArray &reason, const QByteArray &body, bool withBody,
                    const QByteArray &extraHeaders = QByteArray());
    void startBody(const QByteArray &headers, const ReleaseServerState::Entry &entry,
                   const QByteArray &bytes, qint64 limit, bool chunkedEncoding, End endAction);
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
