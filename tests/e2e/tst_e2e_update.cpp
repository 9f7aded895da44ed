#include "Harness.h"

#include "app/MainController.h"
#include "diagnostics/Logging.h"
#include "release/Downloader.h"
#include "tests/support/LogFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QStandardPaths>

// The firmware update, from the window's first frame to the instrument applying the update.
class TestE2eUpdate : public QObject
{
    Q_OBJECT

    void startUpdate(Harness &h)
    {
        QVERIFY(h.click("updateButton"));
        QTRY_VERIFY(h.isShown("startUpdateButton"));
        QVERIFY_LAYOUT(h);
        QVERIFY(h.click("startUpdateButton"));
    }

    void expectCompleted(Harness &h)
    {
        QTRY_COMPARE_WITH_TIMEOUT(h.text("versionText"), QStringLiteral("File transfer complete!"),
                                  flowWithinMs);
        QCOMPARE(h.text("infoText"),
                 QStringLiteral("File transfer complete! Tovik will now reboot to apply the "
                                "update. You can now close this application."));
        QVERIFY(h.isShown("closeApplicationButton"));
        QVERIFY(!h.isShown("dotAndLabelRow"));
        QVERIFY(!h.isShown("genericProgressBar"));
        QVERIFY_LAYOUT(h);

        // The file is on the volume under its final name, byte for byte, and the volume is gone.
        QFile copied(h.world.volumeFolder("tovikupd") + "/tvxxfer.tvq");
        QVERIFY(copied.open(QIODevice::ReadOnly));
        QVERIFY(copied.readAll() == h.world.updateFileBytes());
        QCOMPARE(h.world.volumes().dismountRequests().size(), 1);
        QCOMPARE(QDir(h.world.volumeFolder("tovikupd")).entryList(QDir::Files),
                 QStringList{"tvxxfer.tvq"});

        // Back from its reboot, the instrument is told three times to finish the update.
        QTRY_COMPARE_WITH_TIMEOUT(h.received(MIDI_SYSEX_UPDATE_FINISH), 3, flowWithinMs);
    }

private slots:
    void init()
    {
        // The download directory is shared by the cases of this run; each starts without a copy.
        QDir downloads(QStandardPaths::writableLocation(QStandardPaths::TempLocation));
        for (const QString &name : downloads.entryList({"*.tvq"}, QDir::Files))
            QVERIFY(downloads.remove(name));
    }

    // With a catalogue version far longer than the window is wide, which wraps inside it.
    void firmwareUpdate()
    {
        SimulatedWorld::Options options;
        options.latestVersion = QStringLiteral("1.6.0.") + QString(120, QLatin1Char('7'));
        const LogWatch log;
        Harness h(options);
        // The availability check runs inside each emission for the catalogue's element: its two
        // lines are in the log before the window hears of that element's version.
        QStringList checked;
        connect(&h.updater->downloader(), &Downloader::latestVersionFetched, this,
                [&](const QString &version) {
                    checked << QStringLiteral("%1 %2")
                                   .arg(log.count("DW: Update available!"))
                                   .arg(log.count("DW: Update version:  \"" + version + '"'));
                });
        QVERIFY_LAYOUT(h);
        reachHome(h);
        QCOMPARE(checked, (QStringList{"1 1", "2 1", "3 1"}));
        QVERIFY(h.isShown("transferButton")); // 1.5.2 may transfer
        QVERIFY_LAYOUT(h);

        QSignalSpy downloadProgress(&h.updater->downloader(), &Downloader::downloadingProgressBar);
        QSignalSpy copyProgress(&h.updater->mainController(), &MainController::copyingFileProgress);
        SignalRecorder order;
        order.listen(&h.updater->midiHandler(), &MidiHandler::updateTransferDone, "midi");
        order.listenProperty(h.item("versionText"), "text", "window");

        startUpdate(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("genericProgressBar"), flowWithinMs);
        QVERIFY(!h.isShown("versionText"));
        QVERIFY_LAYOUT(h);
        QTRY_COMPARE_WITH_TIMEOUT(h.received(MIDI_SYSEX_UPDATE_MODE), 1, flowWithinMs);
        QVERIFY(downloadProgress.size() > 1);
        QCOMPARE(downloadProgress.last().at(0).toLongLong(), 100);

        // The update volume appears only after the instrument has switched over.
        QTRY_VERIFY_WITH_TIMEOUT(copyProgress.size() > 0, flowWithinMs);
        expectCompleted(h);
        QCOMPARE(copyProgress.last().at(0).toInt(), 100);
        for (int i = 1; i < copyProgress.size(); ++i)
            QVERIFY(copyProgress.at(i).at(0).toInt() >= copyProgress.at(i - 1).at(0).toInt());
        QCOMPARE(h.world.server().requestCount("GET", h.world.updateFileName()), 1);

        // One fileTransferComplete reaches the MIDI link first, the window second.
        QCOMPARE(order.events.mid(order.events.indexOf("midi")),
                 (QStringList{"midi", "window File transfer complete!"}));
    }

    void downloadFallback_data()
    {
        QTest::addColumn<int>("refusals"); // answers 404 this often; -1: always
        QTest::newRow("curl completes") << 1;
        QTest::newRow("curl fails too") << -1;
    }

    void downloadFallback()
    {
        QFETCH(int, refusals);
        Harness h;
        ServeRule notFound;
        notFound.body = ServeRule::Body::NotFound404;
        notFound.times = refusals;
        h.world.server().setRule(h.world.updateFileName(), notFound);
        reachHome(h);
        SignalRecorder texts;
        texts.listenProperty(h.item("versionText"), "text", "version");
        texts.listenProperty(h.item("infoText"), "text", "info");
        const QString otherRoute = "version Trying a different route now\u2014hang tight...";
        startUpdate(h);
        if (refusals > 0) {
            expectCompleted(h);
            QVERIFY(texts.events.contains(otherRoute) &&
                    texts.events.contains("info Download completed"));
            QCOMPARE(h.world.server().requestCount("GET", h.world.updateFileName()), 2);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("closeApplicationButton"), flowWithinMs);
        QVERIFY(texts.events.contains(otherRoute));
        QCOMPARE(h.text("versionText"), QStringLiteral("Download failed!"));
        QVERIFY2(h.text("infoText").startsWith(QStringLiteral("Fallback failed: ")),
                 qPrintable(h.text("infoText")));
        QVERIFY(!h.isShown("genericProgressBar"));
        QVERIFY_LAYOUT(h);
        // Nothing was sent to the instrument and nothing reached its volume.
        QTest::qWait(1000);
        QCOMPARE(h.received(MIDI_SYSEX_UPDATE_MODE), 0);
        QVERIFY(!QFile::exists(h.world.volumeFolder("tovikupd") + "/tvxxfer.tvq"));
    }

    // Start Update before the catalogue is there: a catalogue that stalls (given up after the
    // inactivity limit) or fails ends as a failed download, with its reason and EXIT.
    void startUpdateWithoutCatalogue_data()
    {
        QTest::addColumn<bool>("stalls"); // false: not found
        QTest::newRow("catalogue stalls") << true;
        QTest::newRow("catalogue not found") << false;
    }
    void startUpdateWithoutCatalogue()
    {
        QFETCH(bool, stalls);
        SimulatedWorld::Options options;
        options.catalogueRule.body = stalls ? ServeRule::Body::Stall : ServeRule::Body::NotFound404;
        options.catalogueRule.cutAfter = 10;
        Harness h(options);
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(h.windowProperty("deviceVersion").toString(),
                                  h.world.instrument().version(), foundWithinMs);
        QVERIFY(h.click("updateButton"));
        QTRY_VERIFY(h.isShown("startUpdateButton"));
        QVERIFY(h.click("startUpdateButton"));
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("closeApplicationButton"),
                                 transferInactivityLimitMs * 3 / 2);
        // A stalled catalogue is given up once its limit has passed (Qt's coarse timers may fire
        // 5 % early; our speed check looks once a second), a missing one as soon as pressed.
        const qint64 from = stalls ? transferInactivityLimitMs * 95 / 100 : 0;
        const qint64 to = stalls ? transferInactivityLimitMs + 5000 : foundWithinMs;
        QVERIFY2(clock.elapsed() >= from && clock.elapsed() < to,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(h.text("versionText"), QStringLiteral("Download failed!"));
        QVERIFY2(h.text("infoText").startsWith("The list of releases could not be fetched."),
                 qPrintable(h.text("infoText")));
        QVERIFY(!h.isShown("startUpdateButton") && !h.isShown("genericProgressBar"));
        QCOMPARE(h.received(MIDI_SYSEX_UPDATE_MODE), 0);
    }

    // A short unplug while downloading: the indicator shows the loss and then the return, and
    // neither Update nor Transfer comes back over the update screen.
    void reconnectionDuringDownload()
    {
        SimulatedWorld::Options options;
        options.downloadChunkIntervalMs = 500; // about eight seconds
        Harness h(options);
        h.world.instrument().setFaults(SimulatedInstrument::ReturnWithNewPortIdentity);
        reachHome(h);
        startUpdate(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("genericProgressBar"), flowWithinMs);
        QSignalSpy offered(h.item("transferButton"), &QQuickItem::visibleChanged);
        QSignalSpy versions(&h.updater->midiHandler(), &MidiHandler::tovikReceivedVersion);
        h.world.instrument().unplug();
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is not connected"),
                                  foundWithinMs);
        h.world.instrument().plugIn();
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is connected"),
                                  foundWithinMs);
        QVERIFY(!h.isShown("infoConnectText"));
        QVERIFY(versions.wait(foundWithinMs));
        expectCompleted(h);
        QCOMPARE(offered.size(), 0);
        QVERIFY(!h.isShown("updateButton"));
    }
};

int main(int argc, char *argv[])
{
    // A download directory of this run's own, so no earlier run's copy is found.
    QTemporaryDir downloads;
    qputenv("TMPDIR", downloads.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    // As in the program: everything the objects say goes to a log file, kept with the test.
    initLogging(QStringLiteral("1.3.2"));
    TestE2eUpdate test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_update.moc"
