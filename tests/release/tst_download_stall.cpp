#include "ReleaseTestSupport.h"
#include "diagnostics/Logging.h"
#include "tests/support/Files.h"

#include <QtTest>

// A server that goes silent or drips must not hold the window: every request gives up after
// 60 s without a byte, or under a byte a second, on the Qt route and on curl's. The six cases
// run side by side.
class TestDownloadStall : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initLogging(QStringLiteral("test")); }
    void silentServersAreGivenUp()
    {
        // Qt rounds a timer this long to a whole second, so it may end up to half a second
        // early; curl's speed is its average over the last five seconds, so it gives up later,
        // and after a burst later still; a loaded machine adds a little.
        constexpr qint64 limitMs = 60000, earlyMs = 1000, lateMs = 2000, curlLateMs = 8000;
        const auto afterLimit = [](qint64 ms, bool curl = false) {
            return ms >= limitMs - earlyMs && ms < limitMs + (curl ? curlLateMs : lateMs);
        };
        const QString dir = emptiedPrivateTempDir();
        QVERIFY2(!dir.isEmpty(), qPrintable(QDir::tempPath()));
        const QByteArray firmware = firmwareBytes(16000, 21);

        using Head = ServeRule::Head;
        using Body = ServeRule::Body;
        // A: the catalogue stops after its first bytes, and Start Update waits for it.
        OneRelease catalogue(firmware);
        catalogue.server.setRule("releases.json", {Head::Normal, Body::Stall, -1, 10});
        // B: the file stops after 1000 bytes, for Qt and for curl alike.
        OneRelease body(firmware, "body.tvq");
        body.server.setRule("body.tvq", {Head::Normal, Body::Stall, -1, 1000});
        // C: the size request is never answered; the download itself works.
        OneRelease head(firmware, "head.tvq");
        head.server.setRule("head.tvq", {Head::Stall});
        // D: slow but alive: 1000 bytes every 5 s, 80 s in all, longer than the limit.
        OneRelease slow(firmware, "slow.tvq");
        slow.server.setRule("slow.tvq", {Head::Normal, Body::Trickle, -1, 0, 1000, 5000});
        // E: alive, but a byte every 2 s, for Qt and for curl alike.
        OneRelease drip(firmware, "drip.tvq");
        drip.server.setRule("drip.tvq", {Head::Normal, Body::Trickle, -1, 0, 1, 2000});
        // F: the catalogue drips a byte every 2 s, and Start Update waits for it.
        OneRelease dripCatalogue(firmware);
        dripCatalogue.server.setRule("releases.json",
                                     {Head::Normal, Body::Trickle, -1, 0, 1, 2000});
        OneRelease *const all[] = {&catalogue, &body, &head, &slow, &drip, &dripCatalogue};

        for (OneRelease *r : {&body, &head, &slow, &drip})
            QVERIFY(fetchCatalogue(r->downloader));
        QSignalSpy catalogueSignals(&catalogue.downloader, &Downloader::releasesJsonFetched);
        const LogWatch log;
        catalogue.downloader.fetchReleasesJson();
        dripCatalogue.downloader.fetchReleasesJson();
        const qint64 started = SignalRecorder::nowMs();
        for (OneRelease *r : all)
            r->downloader.downloadFile();
        for (OneRelease *r : all)
            QVERIFY(r->ended(1, int(4 * limitMs)));
        // When the last outcome signal came.
        const auto last = [&](const OneRelease &r) {
            return r.outcomes.times.last() - started;
        };
        const QString folder = body.downloader.downloadDirectory;
        QString times = "first and last outcome, A to F:";
        for (OneRelease *r : all)
            times +=
                QStringLiteral(" %1/%2").arg(r->outcomes.times.first() - started).arg(last(*r));
        const auto done = [&](const QString &name) {
            return QStringList{QStringLiteral("finished true %1/%2 %2").arg(folder, name),
                               "transfer true"};
        };
        // Qt gives up after the limit (the first outcome), then curl after the limit again.
        const auto bothRoutesGaveUp = [&](const OneRelease &r, const QString &name) {
            const qint64 qtEnded = r.outcomes.times.first() - started;
            return afterLimit(qtEnded) && afterLimit(last(r) - qtEnded, true) &&
                   eventsMatch(r.outcomes.events,
                               {"status true Hmm, the download didn\u2019t go through",
                                "status false Fallback failed: curl: (28)*",
                                QStringLiteral("finished false %1/%2 %2").arg(folder, name),
                                "transfer false"});
        };

        // A, F: nothing read, no release announced, and the waiting download has failed plainly.
        QVERIFY2(afterLimit(last(catalogue)), qPrintable(times));
        QCOMPARE(catalogueSignals.size(), 0);
        VERIFY_EVENTS(catalogue.outcomes.events,
                      {"status false The list of releases could not be fetched*",
                       "finished false  ", "transfer false"});
        QVERIFY2(afterLimit(last(dripCatalogue)), qPrintable(times));
        QCOMPARE(dripCatalogue.outcomes.events, catalogue.outcomes.events);
        // B: the file stops.
        QVERIFY2(bothRoutesGaveUp(body, "body.tvq"), qPrintable(times));
        QVERIFY(log.text().contains("QNetworkReply::OperationCanceledError"));
        // C: the size request is abandoned, then the file arrives on the Qt route.
        QVERIFY2(afterLimit(last(head)), qPrintable(times));
        QCOMPARE(head.outcomes.events, done("head.tvq"));
        QCOMPARE(fileBytes(folder + "/head.tvq"), firmware);
        // D: a slow transfer is not a stalled one: its 16 pieces 5 s apart arrive whole.
        QVERIFY2(last(slow) >= 16 * 5000 - earlyMs && last(slow) < 16 * 5000 + lateMs,
                 qPrintable(times));
        QCOMPARE(slow.outcomes.events, done("slow.tvq"));
        QCOMPARE(slow.progress.numbers().size(), 16);
        QCOMPARE(slow.progress.numbers().last(), qint64(100));
        // E: both routes hold the minimum speed, each for the length of the limit.
        QVERIFY2(bothRoutesGaveUp(drip, "drip.tvq"), qPrintable(times));
    }
};

QTEST_GUILESS_MAIN(TestDownloadStall)
#include "tst_download_stall.moc"
