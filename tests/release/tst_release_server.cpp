#include "sim/server/HttpRequestHead.h"
#include "sim/server/ReleaseServer.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

namespace {
// Sends raw request text and collects everything until the server closes or goes quiet.
QByteArray exchange(const QUrl &base, const QByteArray &request, int quietMs = 1000)
{
    QTcpSocket socket;
    socket.connectToHost(base.host(), quint16(base.port()));
    if (!socket.waitForConnected(5000))
        return QByteArray();
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(quietMs))
        answer += socket.readAll();
    return answer + socket.readAll();
}
} // namespace

// The loopback release server itself: what it parses and what it sends on the wire.
class TestReleaseServer : public QObject
{
    Q_OBJECT
private slots:
    void parsesRequestHeads_data();
    void parsesRequestHeads();
    void answersOnTheWire_data();
    void answersOnTheWire();
    void servesKeepAliveRequestsInOrder();
};

void TestReleaseServer::parsesRequestHeads_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("deflate");
    QTest::addColumn<bool>("keepAlive");

    QTest::newRow("get") << QByteArray("GET /releases/fw.tvq HTTP/1.1\r\nHost: x") << true
                         << QByteArray("GET") << QStringLiteral("/releases/fw.tvq") << false
                         << true;
    QTest::newRow("percent-encoded")
        << QByteArray("HEAD /releases/fw%201.tvq HTTP/1.1") << true << QByteArray("HEAD")
        << QStringLiteral("/releases/fw 1.tvq") << false << true;
    QTest::newRow("deflate accepted")
        << QByteArray("GET / HTTP/1.1\r\nAccept-Encoding: gzip, deflate") << true
        << QByteArray("GET") << QStringLiteral("/") << true << true;
    QTest::newRow("close") << QByteArray("GET / HTTP/1.1\r\nConnection: close") << true
                           << QByteArray("GET") << QStringLiteral("/") << false << false;
    QTest::newRow("http 1.0") << QByteArray("GET / HTTP/1.0") << true << QByteArray("GET")
                              << QStringLiteral("/") << false << false;
    QTest::newRow("garbage") << QByteArray("\x16\x03\x01 hello") << false << QByteArray()
                             << QString() << false << true;
    QTest::newRow("relative path")
        << QByteArray("GET fw.tvq HTTP/1.1") << false << QByteArray("GET")
        << QStringLiteral("fw.tvq") << false << true;
    QTest::newRow("empty") << QByteArray() << false << QByteArray() << QString() << false << true;
}

void TestReleaseServer::parsesRequestHeads()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, valid);
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(bool, deflate);
    QFETCH(bool, keepAlive);

    const HttpRequestHead parsed = parseRequestHead(head);
    QCOMPARE(parsed.valid, valid);
    QCOMPARE(parsed.method, method);
    QCOMPARE(parsed.path, path);
    QCOMPARE(parsed.acceptsDeflate, deflate);
    QCOMPARE(parsed.keepAlive, keepAlive);
}

void TestReleaseServer::answersOnTheWire_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("headRule");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QByteArray>("mustContain");
    QTest::addColumn<QByteArray>("mustNotContain");

    const auto request = [](const char *method, const char *path) {
        return QByteArray(method) + ' ' + path + " HTTP/1.1\r\nConnection: close\r\n\r\n";
    };
    const int normal = int(ServeRule::Head::Normal);
    const QByteArray ok("HTTP/1.1 200 OK");
    const QByteArray notAllowed("HTTP/1.1 405 Method Not Allowed");
    const QByteArray notFound("HTTP/1.1 404 Not Found");
    const QByteArray body("0123456789");
    QTest::newRow("head") << request("HEAD", "/releases/fw.tvq") << normal << ok
                          << QByteArray("Content-Length: 10\r\n") << body;
    QTest::newRow("head refused") << request("HEAD", "/releases/fw.tvq")
                                  << int(ServeRule::Head::Refuse405) << notAllowed
                                  << QByteArray("Allow: GET") << body;
    QTest::newRow("head without length")
        << request("HEAD", "/releases/fw.tvq") << int(ServeRule::Head::NoContentLength) << ok
        << QByteArray("Content-Type") << QByteArray("Content-Length");
    QTest::newRow("get") << request("GET", "/releases/fw.tvq") << normal << ok
                         << QByteArray("Content-Length: 10\r\n\r\n") + body << QByteArray();
    QTest::newRow("unknown file") << request("GET", "/releases/other.tvq") << normal << notFound
                                  << QByteArray("404") << body;
    QTest::newRow("outside releases")
        << request("GET", "/fw.tvq") << normal << notFound << QByteArray("404") << body;
    QTest::newRow("other method") << request("DELETE", "/releases/fw.tvq") << normal << notAllowed
                                  << QByteArray("Allow: GET, HEAD") << body;
    QTest::newRow("bad request") << QByteArray("HELLO\r\n\r\n") << normal
                                 << QByteArray("HTTP/1.1 400 Bad Request") << QByteArray() << body;
}

void TestReleaseServer::answersOnTheWire()
{
    QFETCH(QByteArray, request);
    QFETCH(int, headRule);
    QFETCH(QByteArray, statusLine);
    QFETCH(QByteArray, mustContain);
    QFETCH(QByteArray, mustNotContain);

    ReleaseServer server;
    server.addFile(QStringLiteral("fw.tvq"), "0123456789");
    ServeRule rule;
    rule.head = ServeRule::Head(headRule);
    server.setRule(QStringLiteral("fw.tvq"), rule);
    const QByteArray answer = exchange(server.baseUrl(), request);
    QVERIFY2(answer.startsWith(statusLine + "\r\n"), answer.constData());
    QVERIFY2(answer.contains(mustContain), answer.constData());
    if (!mustNotContain.isEmpty())
        QVERIFY2(!answer.contains(mustNotContain), answer.constData());
}

void TestReleaseServer::servesKeepAliveRequestsInOrder()
{
    ReleaseServer server;
    server.addFile(QStringLiteral("a.tvq"), "AAAA");
    server.addFile(QStringLiteral("b.tvq"), "BB");
    QSignalSpy ended(&server, &ReleaseServer::requestEnded);
    // Two requests in one write: the second must wait for the first answer.
    const QByteArray answer =
        exchange(server.baseUrl(), "GET /releases/a.tvq HTTP/1.1\r\n\r\n"
                                   "GET /releases/b.tvq HTTP/1.1\r\nConnection: close\r\n\r\n");
    const qsizetype first = answer.indexOf("\r\n\r\nAAAA");
    const qsizetype second = answer.indexOf("\r\n\r\nBB");
    QVERIFY2(first > 0 && second > first, answer.constData());
    QTRY_COMPARE(ended.size(), 2);
    QCOMPARE(ended.at(0).at(1).toString(), QStringLiteral("/releases/a.tvq"));
    QCOMPARE(ended.at(0).at(2).toLongLong(), 4);
    QCOMPARE(ended.at(0).at(3).toBool(), true);
    QCOMPARE(ended.at(1).at(1).toString(), QStringLiteral("/releases/b.tvq"));
    QCOMPARE(server.requestCount("GET", QStringLiteral("a.tvq")), 1);
    QCOMPARE(server.requestCount("GET", QStringLiteral("b.tvq")), 1);
}

QTEST_GUILESS_MAIN(TestReleaseServer)
#include "tst_release_server.moc"
