#include "sim/server/ServerConnection.h"

#include <sys/socket.h>

namespace {
constexpr qint64 sliceBytes = 256 * 1024;
// Keeps at most this much queued in the socket, so a 128 MiB file never sits in memory twice.
constexpr qint64 highWaterBytes = 1024 * 1024;
constexpr qsizetype maxHeadBytes = 64 * 1024;

QByteArray statusLine(int status, const QByteArray &reason)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
}
} // namespace

ServerConnection::ServerConnection(QTcpSocket *clientSocket, ReleaseServerState *sharedState,
                                   QObject *parent)
    : QObject(parent)
    , socket(clientSocket)
    , state(sharedState)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &ServerConnection::onReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &ServerConnection::pump);
    connect(socket, &QTcpSocket::disconnected, this, &ServerConnection::onDisconnected);
    connect(&trickleTimer, &QTimer::timeout, this, &ServerConnection::trickle);
}

void ServerConnection::onReadyRead()
{
    input.append(socket->readAll());
    while (!busy) {
        const qsizetype endOfHead = input.indexOf("\r\n\r\n");
        if (endOfHead < 0) {
            if (input.size() > maxHeadBytes) {
                busy = true;
                closeAfter = true;
                sendSimple(431, "Request Header Fields Too Large", QByteArray(), true);
            }
            return;
        }
        const QByteArray headText = input.left(endOfHead);
        input.remove(0, endOfHead + 4);
        handleRequest(parseRequestHead(headText));
    }
}

void ServerConnection::handleRequest(const HttpRequestHead &head)
{
    busy = true;
    reported = false;
    currentMethod = QString::fromLatin1(head.method);
    currentPath = head.path;
    closeAfter = !head.keepAlive;
    if (!head.valid) {
        closeAfter = true;
        sendSimple(400, "Bad Request", "bad request\n", true);
        return;
    }
    state->recordRequest(head.method, head.path);
    emit requestReceived(currentMethod, currentPath);
    const bool isGet = head.method == "GET";
    if (!isGet && head.method != "HEAD") {
        sendSimple(405, "Method Not Allowed", "method not allowed\n", true, "Allow: GET, HEAD\r\n");
        return;
    }
    const ReleaseServerState::Entry entry = state->lookup(head.path, isGet);
    if (!entry.found) {
        sendSimple(404, "Not Found", "<html><body>404 Not Found</body></html>\n", isGet);
        return;
    }
    if (isGet)
        answerGet(entry, head.acceptsDeflate);
    else
        answerHead(entry);
}

void ServerConnection::answerHead(const ReleaseServerState::Entry &entry)
{
    switch (entry.rule.head) {
    case ServeRule::Head::Refuse405:
        sendSimple(405, "Method Not Allowed", "method not allowed\n", false, "Allow: GET\r\n");
        return;
    case ServeRule::Head::NoContentLength:
        socket->write(statusLine(200, "OK") + "Content-Type: application/octet-stream\r\n\r\n");
        finishResponse();
        return;
    case ServeRule::Head::Stall:
        end = End::Stall;
        return;
    case ServeRule::Head::ZeroLength:
        socket->write(statusLine(200, "OK") + "Content-Length: 0\r\n\r\n");
        finishResponse();
        return;
    case ServeRule::Head::Normal:
        break;
    }
    socket->write(statusLine(200, "OK") + "Content-Type: application/octet-stream\r\n" +
                  "Content-Length: " + QByteArray::number(entry.size) + "\r\n\r\n");
    finishResponse();
}

void ServerConnection::answerGet(const ReleaseServerState::Entry &entry, bool acceptsDeflate)
{
    const ServeRule &rule = entry.rule;
    const ServeRule::Body body = entry.misbehave ? rule.body : ServeRule::Body::Normal;
    const QByteArray typeHeader = "Content-Type: application/octet-stream\r\n";
    const QByteArray lengthHeader = "Content-Length: " + QByteArray::number(entry.size) + "\r\n";
    const qint64 cut = qBound<qint64>(0, rule.cutAfter, entry.size);
    switch (body) {
    case ServeRule::Body::NotFound404:
        sendSimple(404, "Not Found", "<html><body>404 Not Found</body></html>\n", true);
        return;
    case ServeRule::Body::ShortThenClose:
        startBody(statusLine(200, "OK") + typeHeader + lengthHeader + "\r\n", entry, entry.bytes,
                  cut, false, End::Close);
        return;
    case ServeRule::Body::DropMidBody:
        startBody(statusLine(200, "OK") + typeHeader + lengthHeader + "\r\n", entry, entry.bytes,
                  cut, false, End::Reset);
        return;
    case ServeRule::Body::Chunked:
        startBody(statusLine(200, "OK") + typeHeader + "Transfer-Encoding: chunked\r\n\r\n", entry,
                  entry.bytes, entry.size, true, End::KeepAlive);
        return;
    case ServeRule::Body::ChunkedWrongLength:
        // Chunked framing wins over Content-Length, so the client gets every byte while the
        // header announces another size.
        startBody(statusLine(200, "OK") + typeHeader + "Transfer-Encoding: chunked\r\n" +
                      "Content-Length: " + QByteArray::number(rule.announcedLength) + "\r\n\r\n",
                  entry, entry.bytes, entry.size, true, End::KeepAlive);
        return;
    case ServeRule::Body::Stall:
        startBody(statusLine(200, "OK") + typeHeader + lengthHeader + "\r\n", entry, entry.bytes,
                  cut, false, End::Stall);
        return;
    case ServeRule::Body::NoContentLength:
        closeAfter = true;
        startBody(statusLine(200, "OK") + typeHeader + "Connection: close\r\n\r\n", entry,
                  entry.bytes, rule.cutAfter > 0 ? cut : entry.size, false, End::KeepAlive);
        return;
    case ServeRule::Body::NoContent204:
        socket->write(statusLine(204, "No Content") + "\r\n");
        finishResponse();
        return;
    case ServeRule::Body::Redirect:
        sendSimple(302, "Found", "moved\n", true, "Location: " + rule.location + "\r\n");
        return;
    case ServeRule::Body::Deflate:
        if (acceptsDeflate && entry.sourcePath.isEmpty()) {
            // qCompress gives a zlib stream behind a four-byte length: exactly "deflate".
            const QByteArray compressed = qCompress(entry.bytes).mid(4);
            startBody(statusLine(200, "OK") + typeHeader + "Content-Encoding: deflate\r\n" +
                          "Content-Length: " + QByteArray::number(compressed.size()) + "\r\n\r\n",
                      entry, compressed, compressed.size(), false, End::KeepAlive);
            return;
        }
        break;
    case ServeRule::Body::Trickle:
        // The running timer keeps pump() away: only trickle() sends this body.
        trickleBytes = qMax(1, rule.trickleBytes);
        trickleTimer.start(qMax(1, rule.trickleIntervalMs));
        startBody(statusLine(200, "OK") + typeHeader + lengthHeader + "\r\n", entry, entry.bytes,
                  entry.size, false, End::KeepAlive);
        return;
    case ServeRule::Body::Normal:
        break;
    }
    startBody(statusLine(200, "OK") + typeHeader + lengthHeader + "\r\n", entry, entry.bytes,
              entry.size, false, End::KeepAlive);
}

void ServerConnection::sendSimple(int status, const QByteArray &reason, const QByteArray &body,
                                  bool withBody, const QByteArray &extraHeaders)
{
    QByteArray response = statusLine(status, reason) + "Content-Type: text/html\r\n" +
                          extraHeaders + "Content-Length: " + QByteArray::number(body.size()) +
                          "\r\n\r\n";
    if (withBody)
        response += body;
    socket->write(response);
    finishResponse();
}

void ServerConnection::startBody(const QByteArray &headers, const ReleaseServerState::Entry &entry,
                                 const QByteArray &bytes, qint64 limit, bool chunkedEncoding,
                                 End endAction)
{
    memory = bytes;
    if (file.isOpen())
        file.close();
    if (bytes.isEmpty() && !entry.sourcePath.isEmpty()) {
        file.setFileName(entry.sourcePath);
        if (!file.open(QIODevice::ReadOnly)) {
            closeAfter = true;
            sendSimple(500, "Internal Server Error", "cannot read file\n", true);
            return;
        }
    }
    bodyLimit = limit;
    sent = 0;
    chunked = chunkedEncoding;
    end = endAction;
    ending = false;
    socket->write(headers);
    pump();
}

qint64 ServerConnection::readSlice(char *out, qint64 max)
{
    if (file.isOpen())
        return file.read(out, max);
    const qint64 n = qMin<qint64>(max, memory.size() - sent);
    memcpy(out, memory.constData() + sent, size_t(n));
    return n;
}

void ServerConnection::pump()
{
    if (!busy || ending || trickleTimer.isActive())
        return;
    QByteArray slice;
    while (sent < bodyLimit && socket->bytesToWrite() < highWaterBytes) {
        const qint64 want = qMin(sliceBytes, bodyLimit - sent);
        slice.resize(want);
        const qint64 got = readSlice(slice.data(), want);
        if (got <= 0) {
            resetConnection();
            return;
        }
        slice.resize(got);
        if (chunked)
            socket->write(QByteArray::number(got, 16) + "\r\n" + slice + "\r\n");
        else
            socket->write(slice);
        sent += got;
    }
    if (sent < bodyLimit)
        return;
    if (chunked) {
        socket->write("0\r\n\r\n");
        chunked = false;
    }
    switch (end) {
    case End::KeepAlive:
        finishResponse();
        return;
    case End::Close:
        ending = true;
        report(false);
        socket->disconnectFromHost();
        return;
    case End::Reset:
        // Let what was promised reach the kernel first, then cut the connection hard.
        if (socket->bytesToWrite() > 0)
            return;
        ending = true;
        resetConnection();
        return;
    case End::Stall:
        ending = true;
        return;
    }
}

void ServerConnection::trickle()
{
    const qint64 want = qMin<qint64>(trickleBytes, bodyLimit - sent);
    QByteArray slice(want, Qt::Uninitialized);
    const qint64 got = readSlice(slice.data(), want);
    if (got <= 0) {
        trickleTimer.stop();
        resetConnection();
        return;
    }
    slice.resize(got);
    socket->write(slice);
    sent += got;
    if (sent >= bodyLimit) {
        trickleTimer.stop();
        finishResponse();
    }
}

void ServerConnection::report(bool complete)
{
    if (reported)
        return;
    reported = true;
    emit requestEnded(currentMethod, currentPath, sent, complete);
}

void ServerConnection::finishResponse()
{
    report(true);
    busy = false;
    ending = false;
    end = End::KeepAlive;
    memory.clear();
    if (file.isOpen())
        file.close();
    sent = 0;
    bodyLimit = 0;
    if (closeAfter) {
        ending = true;
        busy = true;
        socket->disconnectFromHost();
        return;
    }
    if (!input.isEmpty())
        QMetaObject::invokeMethod(this, &ServerConnection::onReadyRead, Qt::QueuedConnection);
}

void ServerConnection::resetConnection()
{
    report(false);
    ending = true;
    busy = true;
    trickleTimer.stop();
    // A zero linger turns the close into a reset, as a crashed proxy or a pulled cable would.
    const qintptr fd = socket->socketDescriptor();
    if (fd >= 0) {
        linger hard{1, 0};
        ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    socket->abort();
    deleteLater();
}

void ServerConnection::onDisconnected()
{
    trickleTimer.stop();
    if (busy)
        report(false);
    busy = true;
    ending = true;
    deleteLater();
}
