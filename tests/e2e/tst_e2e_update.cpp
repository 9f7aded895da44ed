#include "Harness.h"
#include "TextRecorder.h"

#include "app/MainController.h"
#include "diagnostics/Logging.h"
#include "midi/MidiHandler.h"
#include "release/Downloader.h"

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

    QString cachedCopy(const Harness &h) const
    {
        return QStandardPaths::writableLocation(QStandardPaths::TempLocation) + '/' +
               h.world.updateFileName();
    }

    // Found, version answered, catalogue shown: the Home screen with the newest version known.
    void reachHome(Harness &h)
    {
        QVERIFY(h.isReady());
        QCOMPARE(h.indicator(), QStringLiteral("Looking for Tovik"));
        QVERIFY(h.isShown("infoConnectText"));
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is connected"),
                                  foundWithinMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("updateButton"), foundWithinMs);
        QTRY_COMPARE_WITH_TIMEOUT(h.windowProperty("deviceVersion").toString(),
                                  h.world.instrument().version(), foundWithinMs);
        QTRY_COMPARE_WITH_TIMEOUT(h.text("versionText"),
                                  QStringLiteral("The latest available version is Tvx1.6.0"),
                                  foundWithinMs);
        QVERIFY(!h.isShown("infoConnectText"));
    }

    void startUpdate(Harness &h)
    {
        QVERIFY(h.click("updateButton"));
        QTRY_VERIFY(h.isShown("startUpdateButton"));
        QVERIFY(h.isShown("versionText"));
        QVERIFY(h.isShown("infoText"));
        QVERIFY(!h.isShown("transferButton"));
        QVERIFY(!h.isShown("closeApplicationButton"));
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

        // The file is on the volume under its final name, byte for byte, and the volume is gone.
        QFile copied(h.world.volumeFolder("tovikupd") + "/tvxxfer.tvq");
        QVERIFY(copied.open(QIODevice::ReadOnly));
        QVERIFY(copied.readAll() == h.world.updateFileBytes());
        QVERIFY(!h.world.volumes().isMounted("tovikupd"));
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

    void firmwareUpdate()
    {
        Harness h;
        reachHome(h);
        QVERIFY(h.isShown("transferButton")); // 1.5.2 may transfer

        QSignalSpy downloadProgress(&h.updater->downloader(), &Downloader::downloadingProgressBar);
        QSignalSpy copyProgress(&h.updater->mainController(), &MainController::copyingFileProgress);
        QStringList order;
        connect(&h.updater->midiHandler(), &MidiHandler::updateTransferDone, this,
                [&] { order << "midi"; });
        connect(&h.updater->mainController(), &MainController::fileTransferComplete, this,
                [&](bool) {
                    // Connected after the window's handler, so it has already run.
                    order << "window:" + h.text("versionText");
                });

        startUpdate(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("genericProgressBar"), flowWithinMs);
        QVERIFY(!h.isShown("versionText"));
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
        QCOMPARE(order, (QStringList{"midi", "window:File transfer complete!"}));
        QVERIFY(!h.isShown("transferButton"));
    }

    void primaryDownloadFailsCurlCompletes()
    {
        Harness h;
        ServeRule once;
        once.body = ServeRule::Body::NotFound404;
        once.times = 1;
        h.world.server().setRule(h.world.updateFileName(), once);
        reachHome(h);
        TextRecorder version(h.item("versionText"));
        TextRecorder info(h.item("infoText"));

        startUpdate(h);
        expectCompleted(h);
        QVERIFY2(version.texts.contains(
                     QStringLiteral("Trying a different route now\u2014hang tight...")),
                 qPrintable(version.texts.join(" | ")));
        QVERIFY2(info.texts.contains(QStringLiteral("Download completed")),
                 qPrintable(info.texts.join(" | ")));
        QCOMPARE(h.world.server().requestCount("GET", h.world.updateFileName()), 2);
    }

    void fallbackFailsToo()
    {
        Harness h;
        ServeRule always;
        always.body = ServeRule::Body::NotFound404;
        h.world.server().setRule(h.world.updateFileName(), always);
        reachHome(h);

        startUpdate(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("closeApplicationButton"), flowWithinMs);
        QCOMPARE(h.text("versionText"), QStringLiteral("Download failed!"));
        QVERIFY2(h.text("infoText").startsWith(QStringLiteral("Fallback failed: ")),
                 qPrintable(h.text("infoText")));
        QVERIFY(!h.isShown("genericProgressBar"));
        // Nothing was sent to the instrument and nothing reached its volume.
        QTest::qWait(1000);
        QCOMPARE(h.received(MIDI_SYSEX_UPDATE_MODE), 0);
        QVERIFY(!QFile::exists(h.world.volumeFolder("tovikupd") + "/tvxxfer.tvq"));
    }

    void updateVolumeNeverAppears()
    {
        Harness h;
        // The instrument switches, but the system never mounts its volume.
        disconnect(&h.world.instrument(), &SimulatedInstrument::volumePresented, &h.world.volumes(),
                   nullptr);
        reachHome(h);

        startUpdate(h);
        QTRY_COMPARE_WITH_TIMEOUT(h.received(MIDI_SYSEX_UPDATE_MODE), 1, flowWithinMs);
        QTRY_COMPARE_WITH_TIMEOUT(h.text("versionText"), QStringLiteral("File transfer failed!"),
                                  flowWithinMs);
        QCOMPARE(h.text("infoText"), QStringLiteral("Something went wrong during the file "
                                                    "transfer. Please try again or contact "
                                                    "support."));
        QVERIFY(h.isShown("closeApplicationButton"));
        QVERIFY(!h.isShown("genericProgressBar"));
        QVERIFY(h.isShown("dotAndLabelRow"));
        QCOMPARE(h.windowProperty("inReenumeration").toBool(), false);
        QCOMPARE(h.received(MIDI_SYSEX_UPDATE_FINISH), 0);
    }

    void cachedCompleteFileIsNotDownloadedAgain()
    {
        Harness h;
        QFile cached(cachedCopy(h));
        QVERIFY(cached.open(QIODevice::WriteOnly));
        QCOMPARE(cached.write(h.world.updateFileBytes()), h.world.updateFileBytes().size());
        cached.close();
        reachHome(h);
        QSignalSpy downloadProgress(&h.updater->downloader(), &Downloader::downloadingProgressBar);

        startUpdate(h);
        expectCompleted(h);
        QCOMPARE(h.world.server().requestCount("GET", h.world.updateFileName()), 0);
        QCOMPARE(h.world.server().requestCount("HEAD", h.world.updateFileName()), 1);
        QCOMPARE(downloadProgress.size(), 0);
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
        QVERIFY(!stalls || clock.elapsed() >= transferInactivityLimitMs * 95 / 100);
        QCOMPARE(h.text("versionText"), QStringLiteral("Download failed!"));
        QVERIFY2(h.text("infoText").startsWith("The list of releases could not be fetched."),
                 qPrintable(h.text("infoText")));
        QVERIFY(!h.isShown("startUpdateButton") && !h.isShown("genericProgressBar"));
        QCOMPARE(h.received(MIDI_SYSEX_UPDATE_MODE), 0);
    }

    void oldFirmwareIsNotOfferedTransfer()
    {
        SimulatedWorld::Options options;
        options.firmwareVersion = QStringLiteral("1.4.9");
        Harness h(options);
        reachHome(h);
        QVERIFY(h.isShown("updateButton"));
        QVERIFY(!h.isShown("transferButton"));
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
