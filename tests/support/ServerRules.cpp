#include "tests/support/ServerRules.h"

#include "sim/server/HttpRequestHead.h"
#include "sim/server/ServerConnection.h"

#include <QMutexLocker>

namespace {
const QString releasesPrefix = QStringLiteral("/releases/");
using End = ServerConnection::End;

bool answerHead(ServerConnection &c, ServeRule::Head head)
{
    switch (head) {
    case ServeRule::Head::Refuse405:
        c.sendSimple(405, "Method Not Allowed", "method not allowed\n", false, "Allow: GET\r\n");
        return true;
    case ServeRule::Head::NoContentLength:
        c.sendHead(ServerConnection::fileHeaders(QByteArray()));
        return true;
    case ServeRule::Head::Stall:
        c.stall();
        return true;
    case ServeRule::Head::ZeroLength:
        c.sendHead(ServerConnection::statusLine(200, "OK") + "Content-Length: 0\r\n\r\n");
        return true;
    case ServeRule::Head::Normal:
        break;
    }
    return false;
}

bool answerGet(ServerConnection &c, const ServeRule &rule, const ReleaseServerState::Entry &entry,
               bool acceptsDeflate)
{
    using Body = ServeRule::Body;
    using C = ServerConnection;
    const QByteArray withLength = C::fileHeaders(C::lengthHeader(entry.size));
    const qint64 cut = qBound<qint64>(0, rule.cutAfter, entry.size);
    switch (rule.body) {
    case Body::NotFound404:
        c.sendNotFound(true);
        return true;
    case Body::ShortThenClose:
    case Body::DropMidBody:
    case Body::Stall:
        // The whole size announced, cutAfter bytes sent, then a clean close, a reset or silence.
        c.startBody(withLength, entry, entry.bytes, cut, false,
                    rule.body == Body::ShortThenClose ? End::Close
                    : rule.body == Body::DropMidBody  ? End::Reset
                                                      : End::Stall);
        return true;
    case Body::Chunked:
    case Body::ChunkedWrongLength:
        // Chunked framing wins over Content-Length, so the client gets every byte while a wrong
        // header announces another size.
        c.startBody(
            C::fileHeaders("Transfer-Encoding: chunked\r\n" +
                           (rule.body == Body::Chunked ? QByteArray()
                                                       : C::lengthHeader(rule.announcedLength))),
            entry, entry.bytes, entry.size, true, End::KeepAlive);
        return true;
    case Body::NoContentLength:
        c.closeAfterResponse();
        c.startBody(C::fileHeaders("Connection: close\r\n"), entry, entry.bytes,
                    rule.cutAfter > 0 ? cut : entry.size, false, End::KeepAlive);
        return true;
    case Body::NoContent204:
        c.sendHead(C::statusLine(204, "No Content") + "\r\n");
        return true;
    case Body::Redirect:
        c.sendSimple(302, "Found", "moved\n", true, "Location: " + rule.location + "\r\n");
        return true;
    case Body::Deflate: {
        if (!acceptsDeflate || !entry.sourcePath.isEmpty())
            return false;
        // qCompress gives a zlib stream behind a four-byte length: exactly "deflate".
        const QByteArray compressed = qCompress(entry.bytes).mid(4);
        c.startBody(
            C::fileHeaders("Content-Encoding: deflate\r\n" + C::lengthHeader(compressed.size())),
            entry, compressed, compressed.size(), false, End::KeepAlive);
        return true;
    }
    case Body::Trickle:
        c.startTrickle(withLength, entry, rule.trickleBytes, rule.trickleIntervalMs);
        return true;
    case Body::Normal:
        break;
    }
    return false;
}
} // namespace

ServerRules::ServerRules(ReleaseServer &server)
    : ruled(server)
{
    ruled.setResponder(this);
}

ServerRules::~ServerRules()
{
    ruled.setResponder(nullptr);
}

void ServerRules::setRule(const QString &name, const ServeRule &rule)
{
    QMutexLocker lock(&rulesMutex);
    rules.insert(name, Rule{rule, rule.times});
}

int ServerRules::requestCount(const QByteArray &method, const QString &name) const
{
    QMutexLocker lock(&rulesMutex);
    return counts.value(QString::fromLatin1(method) + QLatin1Char(' ') + releasesPrefix + name);
}

bool ServerRules::answer(ServerConnection &connection, const HttpRequestHead &head,
                         const ReleaseServerState::Entry &entry)
{
    const bool isGet = head.method == "GET";
    Rule rule;
    bool misbehave = false;
    {
        QMutexLocker lock(&rulesMutex);
        ++counts[QString::fromLatin1(head.method) + QLatin1Char(' ') + head.path];
        const auto it = rules.find(head.path.mid(releasesPrefix.size()));
        if (!entry.found || it == rules.end() || (!isGet && head.method != "HEAD"))
            return false;
        rule = it.value();
        misbehave = it->remainingTimes != 0;
        if (isGet && it->remainingTimes > 0)
            --it->remainingTimes;
    }
    if (!isGet)
        return answerHead(connection, rule.rule.head);
    return misbehave && answerGet(connection, rule.rule, entry, head.acceptsDeflate);
}
