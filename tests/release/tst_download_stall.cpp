#include "LogCapture.h"
#include "ReleaseTestSupport.h"

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

    // A: the catalogue stops after its first bytes.
    OneRelease catalogue(firmware);
    ServeRule stall;
    stall.body = ServeRule::Body::Stall;
    stall.cutAfter = 10;
    catalogue.server.setRule(QStringLiteral("releases.json"), stall);
    // B: the file stops after 1000 bytes, for Qt and for curl alike.
    OneRelease body(firmware, QStringLiteral("body.tvq"));
    stall.cutAfter = 1000;
    body.server.setRule(QStringLiteral("body.tvq"), stall);
    // C: the size request is never answered; the download itself works.
    OneRelease head(firmware, QStringLiteral("head.tvq"));
    ServeRule silentHead;
    silentHead.head = ServeRule::Head::Stall;
    head.server.setRule(QStringLiteral("head.tvq"), silentHead);
    // D: slow but alive: 1000 bytes every 5 s, 80 s in all, longer than the limit.
    OneRelease slow(firmware, QStringLiteral("slow.tvq"));
    ServeRule trickle;
    trickle.body = ServeRule::Body::Trickle;
    trickle.trickleBytes = 1000;
    trickle.trickleIntervalMs = 5000;
    slow.server.setRule(QStringLiteral("slow.tvq"), trickle);

    for (OneRelease *r : {&body, &head, &slow})
        QVERIFY(fetchCatalogue(r->downloader));
    QSignalSpy catalogueSignals(&catalogue.downloader, &Downloader::releasesJsonFetched);
    LogCapture capture;

    QElapsedTimer clock;
    qint64 catalogueGivenUp = -1;
    qint64 bodyFallback = -1;
    qint64 bodyDone = -1;
    qint64 headDone = -1;
    qint64 slowDone = -1;
    stampFirst(&catalogue.downloader.networkManager, &QNetworkAccessManager::finished, clock,
               &catalogueGivenUp);
    stampFirst(&body.downloader, &Downloader::downloadStatus, clock, &bodyFallback);
    stampFirst(&body.recorder, &OutcomeRecorder::transferSignalled, clock, &bodyDone);
    stampFirst(&head.recorder, &OutcomeRecorder::transferSignalled, clock, &headDone);
    stampFirst(&slow.recorder, &OutcomeRecorder::transferSignalled, clock, &slowDone);

    clock.start();
    catalogue.downloader.fetchReleasesJson();
    for (OneRelease *r : {&body, &head, &slow})
        r->downloader.downloadFile();
    QVERIFY(QTest::qWaitFor(
        [&] { return catalogueGivenUp >= 0 && bodyDone >= 0 && headDone >= 0 && slowDone >= 0; },
        int(3 * limitMs + 2 * lateMs)));

    // A: nothing read, nothing emitted, but the request is over.
    QVERIFY2(catalogueGivenUp >= earliestMs && catalogueGivenUp < limitMs + lateMs,
             qPrintable(QString::number(catalogueGivenUp)));
    QCOMPARE(catalogueSignals.size(), 0);
    QVERIFY(catalogue.downloader.downloadUrl.isEmpty());

    // B: the Qt route gives up after the limit, then curl after the limit again.
    QVERIFY2(bodyFallback >= earliestMs && bodyFallback < limitMs + lateMs,
             qPrintable(QString::number(bodyFallback)));
    QVERIFY2(bodyDone >= bodyFallback + earliestMs && bodyDone < bodyFallback + limitMs + lateMs,
             qPrintable(QString::number(bodyDone)));
    const QString bodyPath = QDir::tempPath() + QStringLiteral("/body.tvq");
    QVERIFY2(eventsMatch(body.recorder.events,
                         {QStringLiteral("status 1 Hmm, the download didn\u2019t go through"),
                          QStringLiteral("status 0 Fallback failed: curl: (28)*"),
                          QStringLiteral("finished 0 %1 body.tvq").arg(bodyPath), "transfer 0"}),
             qPrintable(body.recorder.events.join(QLatin1Char('\n'))));
    QVERIFY(!capture
                 .linesStartingWith(QStringLiteral(
                     "WARN DW: Download error occurred: QNetworkReply::OperationCanceledError"))
                 .isEmpty());

    // C: the size request is abandoned, then the file arrives on the Qt route.
    QVERIFY2(headDone >= earliestMs && headDone < limitMs + lateMs,
             qPrintable(QString::number(headDone)));
    const QString headPath = QDir::tempPath() + QStringLiteral("/head.tvq");
    QCOMPARE(head.recorder.events,
             (QStringList{QStringLiteral("finished 1 %1 head.tvq").arg(headPath), "transfer 1"}));
    QFile headFile(headPath);
    QVERIFY(headFile.open(QIODevice::ReadOnly));
    QCOMPARE(headFile.readAll(), firmware);

    // D: a slow transfer is not a stalled one.
    QVERIFY2(slowDone >= 70000, qPrintable(QString::number(slowDone)));
    const QString slowPath = QDir::tempPath() + QStringLiteral("/slow.tvq");
    QCOMPARE(slow.recorder.events,
             (QStringList{QStringLiteral("finished 1 %1 slow.tvq").arg(slowPath), "transfer 1"}));
    QCOMPARE(slow.recorder.progress.size(), 16);
    QCOMPARE(slow.recorder.progress.last(), qint64(100));
}

QTEST_GUILESS_MAIN(TestDownloadStall)
#include "tst_download_stall.moc"
