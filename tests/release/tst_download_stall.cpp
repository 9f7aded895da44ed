#include "LogCapture.h"
#include "ReleaseTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

// A server that goes silent or drips must not hold the window: every request gives up after
// 60 s without a byte, or under a byte a second, on the Qt route and on curl's. The five cases
// run side by side.
class TestDownloadStall : public QObject
{
    Q_OBJECT
private slots:
    void silentServersAreGivenUp();
};

void TestDownloadStall::silentServersAreGivenUp()
{
    // Qt's coarse timers may fire up to 5 % early; a loaded two-core machine adds seconds.
    constexpr qint64 limitMs = 60000;
    const auto afterLimit = [](qint64 ms) {
        return ms >= limitMs * 95 / 100 && ms < 90000;
    };
    const QString dir = emptiedPrivateTempDir();
    QVERIFY2(!dir.isEmpty(), qPrintable(QDir::tempPath()));
    const QByteArray firmware = firmwareBytes(16000, 21);

    using Head = ServeRule::Head;
    using Body = ServeRule::Body;
    // A: the catalogue stops after its first bytes, and Start Update waits for it.
    OneRelease catalogue(firmware);
    catalogue.server.setRule(QStringLiteral("releases.json"), {Head::Normal, Body::Stall, -1, 10});
    // B: the file stops after 1000 bytes, for Qt and for curl alike.
    OneRelease body(firmware, QStringLiteral("body.tvq"));
    body.server.setRule(QStringLiteral("body.tvq"), {Head::Normal, Body::Stall, -1, 1000});
    // C: the size request is never answered; the download itself works.
    OneRelease head(firmware, QStringLiteral("head.tvq"));
    head.server.setRule(QStringLiteral("head.tvq"), {Head::Stall});
    // D: slow but alive: 1000 bytes every 5 s, 80 s in all, longer than the limit.
    OneRelease slow(firmware, QStringLiteral("slow.tvq"));
    slow.server.setRule(QStringLiteral("slow.tvq"),
                        {Head::Normal, Body::Trickle, -1, 0, 1000, 5000});
    // E: alive, but a byte every 2 s, for Qt and for curl alike.
    OneRelease drip(firmware, QStringLiteral("drip.tvq"));
    drip.server.setRule(QStringLiteral("drip.tvq"), {Head::Normal, Body::Trickle, -1, 0, 1, 2000});

    for (OneRelease *r : {&body, &head, &slow, &drip})
        QVERIFY(fetchCatalogue(r->downloader));
    QSignalSpy catalogueSignals(&catalogue.downloader, &Downloader::releasesJsonFetched);
    LogCapture capture;

    // Milliseconds from the start to the first emission of each signal.
    QElapsedTimer clock;
    qint64 stamps[7] = {-1, -1, -1, -1, -1, -1, -1};
    const auto stamp = [&](auto *sender, auto signal, qint64 &at) {
        connect(sender, signal, this, [&clock, p = &at] { *p = *p < 0 ? clock.elapsed() : *p; });
    };
    auto &[catalogueGivenUp, bodyFallback, bodyDone, headDone, slowDone, dripFallback, dripDone] =
        stamps;
    stamp(&catalogue.downloader, &Downloader::setDeviceToTransferMode, catalogueGivenUp);
    stamp(&body.downloader, &Downloader::downloadStatus, bodyFallback);
    stamp(&body.downloader, &Downloader::setDeviceToTransferMode, bodyDone);
    stamp(&head.downloader, &Downloader::setDeviceToTransferMode, headDone);
    stamp(&slow.downloader, &Downloader::setDeviceToTransferMode, slowDone);
    stamp(&drip.downloader, &Downloader::downloadStatus, dripFallback);
    stamp(&drip.downloader, &Downloader::setDeviceToTransferMode, dripDone);

    clock.start();
    catalogue.downloader.fetchReleasesJson();
    for (OneRelease *r : {&catalogue, &body, &head, &slow, &drip})
        r->downloader.downloadFile();
    QVERIFY(QTest::qWaitFor(
        [&] { return std::all_of(stamps, stamps + 7, [](qint64 at) { return at >= 0; }); },
        int(4 * limitMs)));
    const QString folder = body.downloader.downloadDirectory;
    QString times;
    for (qint64 at : stamps)
        times += QString::number(at) + QLatin1Char(' ');
    const auto done = [&](const QString &name) {
        return QStringList{QStringLiteral("finished 1 %1/%2 %2").arg(folder, name), "transfer 1"};
    };

    // A: nothing read, no release announced, and the waiting download has failed plainly.
    QVERIFY2(afterLimit(catalogueGivenUp), qPrintable(times));
    QCOMPARE(catalogueSignals.size(), 0);
    VERIFY_EVENTS(catalogue.recorder.events,
                  (QStringList{"status 0 The list of releases could not be fetched*",
                               "finished 0  ", "transfer 0"}));
    // B: the Qt route gives up after the limit, then curl after the limit again.
    QVERIFY2(afterLimit(bodyFallback) && afterLimit(bodyDone - bodyFallback), qPrintable(times));
    VERIFY_EVENTS(
        body.recorder.events,
        (QStringList{QStringLiteral("status 1 Hmm, the download didn\u2019t go through"),
                     QStringLiteral("status 0 Fallback failed: curl: (28)*"),
                     QStringLiteral("finished 0 %1/body.tvq body.tvq").arg(folder), "transfer 0"}));
    QVERIFY(capture.warnings().join('\n').contains("QNetworkReply::OperationCanceledError"));
    // C: the size request is abandoned, then the file arrives on the Qt route.
    QVERIFY2(afterLimit(headDone), qPrintable(times));
    QCOMPARE(head.recorder.events, done(QStringLiteral("head.tvq")));
    QCOMPARE(fileBytes(folder + QStringLiteral("/head.tvq")), firmware);
    // D: a slow transfer is not a stalled one.
    QVERIFY2(slowDone >= 70000, qPrintable(times));
    QCOMPARE(slow.recorder.events, done(QStringLiteral("slow.tvq")));
    QCOMPARE(slow.recorder.progress.size(), 16);
    QCOMPARE(slow.recorder.progress.last(), qint64(100));
    // E: both routes hold the minimum speed, each for the length of the limit.
    QVERIFY2(afterLimit(dripFallback) && afterLimit(dripDone - dripFallback), qPrintable(times));
    VERIFY_EVENTS(
        drip.recorder.events,
        (QStringList{QStringLiteral("status 1 Hmm, the download didn\u2019t go through"),
                     QStringLiteral("status 0 Fallback failed: curl: (28)*"),
                     QStringLiteral("finished 0 %1/drip.tvq drip.tvq").arg(folder), "transfer 0"}));
}

QTEST_GUILESS_MAIN(TestDownloadStall)
#include "tst_download_stall.moc"
