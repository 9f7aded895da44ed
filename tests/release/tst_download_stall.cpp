#include "LogCapture.h"
#include "ReleaseTestSupport.h"

#include "release/Downloader.h"
#include "sim/server/ReleaseServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {
// The limit is 60 s of silence. Qt's coarse timers may fire up to 5 % early, and a loaded
// two-core machine may add some seconds.
constexpr qint64 limitMs = 60000;
constexpr qint64 earliestMs = limitMs - limitMs / 20;
constexpr qint64 lateMs = 30000;

// Milliseconds since `clock` started at the moment `signal` of `sender` is first emitted.
template<typename Sender, typename Signal>
void stampFirst(Sender *sender, Signal signal, const QElapsedTimer &clock, qint64 *stamp)
{
    QObject::connect(sender, signal, sender, [&clock, stamp] {
        if (*stamp < 0)
            *stamp = clock.elapsed();
    });
}
} // namespace

// A server that goes silent must not hold the window: every request gives up after 60 s
// without a byte, on the Qt route and on curl's. The four cases run side by side.
class TestDownloadStall : public QObject
{
    Q_OBJECT
private slots:
    void silentServersAreGivenUp();
};

void TestDownloadStall::silentServersAreGivenUp()
{
    // Downloads land in the private temporary directory; copies from an earlier run would
    // be taken as complete.
    QVERIFY2(!privateTempDir().isEmpty(), qPrintable(QDir::tempPath()));
    QVERIFY(emptyDirectory(privateTempDir()));
    const QByteArray firmware = firmwareBytes(16000, 21);
    const QByteArray catalogue = R"([{"file_name":"fw.tvq","version":"1.5.0"}])";

    // A: the catalogue stops after its first bytes.
    ReleaseServer catalogueServer;
    catalogueServer.setCatalogue(catalogue);
    ServeRule stall;
    stall.body = ServeRule::Body::Stall;
    stall.cutAfter = 10;
    catalogueServer.setRule(QStringLiteral("releases.json"), stall);

    // B: the file stops after 1000 bytes, for Qt and for curl alike.
    ReleaseServer bodyServer;
    bodyServer.setCatalogue(R"([{"file_name":"body.tvq","version":"1.5.0"}])");
    bodyServer.addFile(QStringLiteral("body.tvq"), firmware);
    stall.cutAfter = 1000;
    bodyServer.setRule(QStringLiteral("body.tvq"), stall);

    // C: the size request is never answered; the download itself works.
    ReleaseServer headServer;
    headServer.setCatalogue(R"([{"file_name":"head.tvq","version":"1.5.0"}])");
    headServer.addFile(QStringLiteral("head.tvq"), firmware);
    ServeRule silentHead;
    silentHead.head = ServeRule::Head::Stall;
    headServer.setRule(QStringLiteral("head.tvq"), silentHead);

    // D: slow but alive: 1000 bytes every 5 s, 80 s in all, longer than the limit.
    ReleaseServer slowServer;
    slowServer.setCatalogue(R"([{"file_name":"slow.tvq","version":"1.5.0"}])");
    slowServer.addFile(QStringLiteral("slow.tvq"), firmware);
    ServeRule trickle;
    trickle.body = ServeRule::Body::Trickle;
    trickle.trickleBytes = 1000;
    trickle.trickleIntervalMs = 5000;
    slowServer.setRule(QStringLiteral("slow.tvq"), trickle);

    Downloader catalogueClient(catalogueServer.baseUrl());
    Downloader bodyClient(bodyServer.baseUrl());
    Downloader headClient(headServer.baseUrl());
    Downloader slowClient(slowServer.baseUrl());
    for (Downloader *client : {&bodyClient, &headClient, &slowClient})
        QVERIFY(fetchCatalogue(*client));

    OutcomeRecorder bodyEvents(&bodyClient);
    OutcomeRecorder headEvents(&headClient);
    OutcomeRecorder slowEvents(&slowClient);
    QSignalSpy catalogueSignals(&catalogueClient, &Downloader::releasesJsonFetched);
    LogCapture capture;

    QElapsedTimer clock;
    qint64 catalogueGivenUp = -1;
    qint64 bodyFallback = -1;
    qint64 bodyDone = -1;
    qint64 headDone = -1;
    qint64 slowDone = -1;
    stampFirst(&catalogueClient.networkManager, &QNetworkAccessManager::finished, clock,
               &catalogueGivenUp);
    stampFirst(&bodyClient, &Downloader::downloadStatus, clock, &bodyFallback);
    stampFirst(&bodyEvents, &OutcomeRecorder::transferSignalled, clock, &bodyDone);
    stampFirst(&headEvents, &OutcomeRecorder::transferSignalled, clock, &headDone);
    stampFirst(&slowEvents, &OutcomeRecorder::transferSignalled, clock, &slowDone);

    clock.start();
    catalogueClient.fetchReleasesJson();
    bodyClient.downloadFile();
    headClient.downloadFile();
    slowClient.downloadFile();
    QVERIFY(QTest::qWaitFor(
        [&] { return catalogueGivenUp >= 0 && bodyDone >= 0 && headDone >= 0 && slowDone >= 0; },
        int(3 * limitMs + 2 * lateMs)));

    // A: nothing read, nothing emitted, but the request is over.
    QVERIFY2(catalogueGivenUp >= earliestMs && catalogueGivenUp < limitMs + lateMs,
             qPrintable(QString::number(catalogueGivenUp)));
    QCOMPARE(catalogueSignals.size(), 0);
    QVERIFY(catalogueClient.downloadUrl.isEmpty());

    // B: the Qt route gives up after the limit, then curl after the limit again.
    QVERIFY2(bodyFallback >= earliestMs && bodyFallback < limitMs + lateMs,
             qPrintable(QString::number(bodyFallback)));
    QVERIFY2(bodyDone >= bodyFallback + earliestMs && bodyDone < bodyFallback + limitMs + lateMs,
             qPrintable(QString::number(bodyDone)));
    const QString bodyPath = QDir::tempPath() + QStringLiteral("/body.tvq");
    QCOMPARE(bodyEvents.events.size(), 4);
    QCOMPARE(bodyEvents.events.at(0),
             QStringLiteral("status 1 Hmm, the download didn\u2019t go through"));
    QVERIFY2(
        bodyEvents.events.at(1).startsWith(QStringLiteral("status 0 Fallback failed: curl: (28)")),
        qPrintable(bodyEvents.events.at(1)));
    QCOMPARE(bodyEvents.events.mid(2),
             (QStringList{QStringLiteral("finished 0 %1 body.tvq").arg(bodyPath), "transfer 0"}));
    QVERIFY(!capture
                 .linesStartingWith(QStringLiteral(
                     "WARN DW: Download error occurred: QNetworkReply::OperationCanceledError"))
                 .isEmpty());

    // C: the size request is abandoned, then the file arrives on the Qt route.
    QVERIFY2(headDone >= earliestMs && headDone < limitMs + lateMs,
             qPrintable(QString::number(headDone)));
    const QString headPath = QDir::tempPath() + QStringLiteral("/head.tvq");
    QCOMPARE(headEvents.events,
             (QStringList{QStringLiteral("finished 1 %1 head.tvq").arg(headPath), "transfer 1"}));
    QFile headFile(headPath);
    QVERIFY(headFile.open(QIODevice::ReadOnly));
    QCOMPARE(headFile.readAll(), firmware);

    // D: a slow transfer is not a stalled one.
    QVERIFY2(slowDone >= 70000, qPrintable(QString::number(slowDone)));
    const QString slowPath = QDir::tempPath() + QStringLiteral("/slow.tvq");
    QCOMPARE(slowEvents.events,
             (QStringList{QStringLiteral("finished 1 %1 slow.tvq").arg(slowPath), "transfer 1"}));
    QCOMPARE(slowEvents.progress.size(), 16);
    QCOMPARE(slowEvents.progress.last(), qint64(100));
}

QTEST_GUILESS_MAIN(TestDownloadStall)
#include "tst_download_stall.moc"
