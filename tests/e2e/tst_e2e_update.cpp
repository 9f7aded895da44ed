#include "tests/support/Harness.h"

#include "app/MainController.h"
#include "diagnostics/Logging.h"
#include "release/Downloader.h"
#include "tests/support/Files.h"

#include <QGuiApplication>
#include <QtTest>

namespace {
struct RefusalCase
{
    bool catalogue;     // else the update file
    int refusals;       // -1: always; 0: none, but the download folder is on a 32 KiB disk
    const char *reason; // how the info text begins; empty: the update completes
};

struct VersionCase
{
    const char *firmware; // what the instrument reports
    bool catalogueLate;   // the catalogue comes after the instrument's version
    bool replyLate;       // the version reply comes with the Update prompt already shown
    const char *then;     // a second instrument plugged in afterwards; null: none
    bool installed;       // the Update prompt ends on "already installed" and EXIT
};
enum class CopyFault { WriteRefusedOnce, DismountRefusedOnce, VolumeGone };
enum class Waiting { WithCompleteCopy, WithoutCopy, Offline };
} // namespace
Q_DECLARE_METATYPE(RefusalCase)
Q_DECLARE_METATYPE(CopyFault)
Q_DECLARE_METATYPE(Waiting)
Q_DECLARE_METATYPE(VersionCase)

// The firmware update, from the window's first frame to the instrument applying the update.
class TestE2eUpdate : public QObject
{
    Q_OBJECT

    // The shown controls beyond the screen's room (the window's frame may be); empty when all
    // can be clicked.
    static QString offScreen(const Harness &h)
    {
        const QRectF room =
            QRectF(h.window()->screen()->availableGeometry()).adjusted(-1, -1, 1, 1);
        const auto *content = h.window()->property("contentItem").value<QQuickItem *>();
        QStringList outside;
        for (QQuickItem *item : h.window()->findChildren<QQuickItem *>())
            if (item != content && !item->objectName().isEmpty() && item->isVisible() &&
                !room.contains(
                    item->mapRectToScene(item->boundingRect()).translated(h.window()->position())))
                outside << item->objectName();
        return outside.join(", ");
    }

    void startUpdate(Harness &h)
    {
        QVERIFY(h.click("updateButton"));
        QTRY_VERIFY(h.isShown("startUpdateButton"));
        QVERIFY_LAYOUT(h);
        QVERIFY(h.click("startUpdateButton"));
    }

    void expectCompleted(Harness &h, int dismounts = 1)
    {
        // What the window shows then is the window tests' business; here it must fit.
        QTRY_COMPARE_WITH_TIMEOUT(h.text("versionText"), QStringLiteral("File transfer complete!"),
                                  flowWithinMs);
        QVERIFY_LAYOUT(h);

        // The file is on the volume under its final name, byte for byte, and the volume is gone.
        QFile copied(h.world.volumeFolder("tovikupd") + "/tvxxfer.tvq");
        QVERIFY(copied.open(QIODevice::ReadOnly));
        QVERIFY(copied.readAll() == h.world.updateFileBytes());
        QCOMPARE(h.volumeFaults.dismountRequests().size(), dismounts);
        QCOMPARE(QDir(h.world.volumeFolder("tovikupd")).entryList(QDir::Files),
                 QStringList{"tvxxfer.tvq"});

        // Back from its reboot, the instrument is told three times to finish the update.
        QTRY_COMPARE_WITH_TIMEOUT(h.received(updateFinish), 3, flowWithinMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            h.text("infoText").startsWith("Update complete! Tovik now runs firmware Tvx1.6.0"),
            flowWithinMs);
    }

private slots:
    // As in the program, everything the objects say goes to a log file, kept with the test;
    // only now, or the test library would take the messages over again.
    void initTestCase() { initLogging(QStringLiteral("1.3.2")); }
    void init()
    {
        // The download directory is shared by the cases of this run; each starts without a copy.
        QDir downloads(defaultDownloadDirectory());
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
        QVERIFY_LAYOUT(h);

        SignalRecorder download, copy;
        download.listen(&h.updater->downloader(), &Downloader::downloadingProgressBar, "progress");
        copy.listen(&h.updater->mainController(), &MainController::copyingFileProgress, "progress");
        SignalRecorder order;
        order.listen(&h.updater->midiHandler(), &MidiHandler::updateTransferDone, "midi");
        order.listenProperty(h.item("versionText"), "text", "window");

        startUpdate(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("genericProgressBar"), flowWithinMs);
        QVERIFY_LAYOUT(h);
        QTRY_COMPARE_WITH_TIMEOUT(h.received(updateMode), 1, flowWithinMs);
        QVERIFY(download.numbers().size() > 1 && download.numbers().last() == 100);

        // The update volume appears only after the instrument has switched over.
        QTRY_VERIFY_WITH_TIMEOUT(copy.count("progress") > 0, flowWithinMs);
        expectCompleted(h);
        const QList<qint64> copied = copy.numbers();
        QVERIFY(std::is_sorted(copied.begin(), copied.end()) && copied.last() == 100);
        QCOMPARE(h.world.server().requestCount("GET", h.world.updateFileName()), 1);

        // One fileTransferComplete reaches the MIDI link first, the window second.
        QCOMPARE(order.events.mid(order.events.indexOf("midi")),
                 (QStringList{"midi", "window File transfer complete!"}));
    }

    // The file refused once (curl then gets it) or always, or the catalogue refused and Start
    // Update pressed without it: a completed update, or a failed download with its reason and
    // EXIT, and nothing sent to the instrument (a stalled catalogue ends so too once the
    // Downloader gives it up: tests/release).
    void refusedDownload_data()
    {
        QTest::addColumn<RefusalCase>("c");
        QTest::newRow("curl completes") << RefusalCase{false, 1, ""};
        QTest::newRow("curl fails too") << RefusalCase{false, -1, "Fallback failed: "};
        QTest::newRow("catalogue not found")
            << RefusalCase{true, -1, "The list of releases could not be fetched."};
        QTest::newRow("disk too small")
            << RefusalCase{false, 0, "There is not enough space for the update in "};
    }

    void refusedDownload()
    {
        QFETCH(RefusalCase, c);
        SimulatedWorld::Options options;
        ServeRule notFound;
        notFound.body = ServeRule::Body::NotFound404;
        notFound.times = c.refusals;
        const QString folder = defaultDownloadDirectory();
        const bool small = c.refusals == 0;
        if (small && (!QDir().mkpath(folder) ||
                      QProcess::execute(
                          "mount", {"-t", "tmpfs", "-o", "size=32k,mode=0700", "tovik", folder})))
            QSKIP("no tmpfs can be mounted here");
        const auto unmount = qScopeGuard([&] {
            if (small)
                QProcess::execute("umount", {"-l", folder});
        });
        Harness h(options, c.catalogue ? notFound : ServeRule());
        if (!c.catalogue)
            h.world.server().setRule(h.world.updateFileName(), notFound);
        QTRY_COMPARE_WITH_TIMEOUT(h.windowProperty("deviceVersion").toString(),
                                  h.world.instrument().version(), foundWithinMs);
        SignalRecorder texts;
        texts.listenProperty(h.item("versionText"), "text", "version");
        texts.listenProperty(h.item("infoText"), "text", "info");
        startUpdate(h);
        const auto otherRoute = [&] {
            return texts.events.contains("version Trying a different route now\u2014hang tight...");
        };
        if (*c.reason == '\0') {
            expectCompleted(h);
            QVERIFY(otherRoute() && texts.events.contains("info Download completed"));
            QCOMPARE(h.world.server().requestCount("GET", h.world.updateFileName()), 2);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("closeApplicationButton"), flowWithinMs);
        QCOMPARE(otherRoute(), !c.catalogue && !small);
        QCOMPARE(h.text("versionText"), QStringLiteral("Download failed!"));
        QVERIFY2(h.text("infoText").startsWith(c.reason), qPrintable(h.text("infoText")));
        QVERIFY(!h.isShown("startUpdateButton") && !h.isShown("genericProgressBar"));
        QVERIFY_LAYOUT(h);
        QTest::qWait(1000);
        QCOMPARE(h.received(updateMode), 0);
        QVERIFY(!QFile::exists(h.world.volumeFolder("tovikupd") + "/tvxxfer.tvq"));
    }

    // A copy that fails on a full volume: the failure stays with EXIT, and the indicator follows
    // the instrument again, off the bus in update mode and back after a replug.
    void failedCopyKeepsWatching()
    {
        Harness h;
        h.volumeFaults.setCapacity("tovikupd", 10000);
        reachHome(h);
        startUpdate(h);
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is not connected"),
                                  flowWithinMs);
        h.world.instrument().unplug();
        h.world.instrument().plugIn();
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is connected"),
                                  foundWithinMs);
        QVERIFY(h.isShown("closeApplicationButton") && h.text("versionText").contains("failed"));
    }

    // On a screen of 600 pixels (ctest gives this suite one) the window takes that height, and
    // every control, of transfer mode and of the update prompt too, stays on it.
    void screenLowerThanTheWindow()
    {
        const int room = QGuiApplication::primaryScreen()->availableGeometry().height();
        if (room >= 750)
            QSKIP("needs a screen lower than 750 pixels, as ctest gives this suite");
        Harness h;
        QVERIFY(h.window()->height() == room && h.window()->minimumHeight() == room);
        reachHome(h);
        QVERIFY(h.click("transferButton"));
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("completeTransferButton"), flowWithinMs);
        QCOMPARE(offScreen(h), QString());
        QVERIFY(h.click("completeTransferButton"));
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("updateButton"), flowWithinMs);
        QVERIFY(h.click("updateButton") && h.isShown("startUpdateButton"));
        QCOMPARE(offScreen(h), QString()); // Start Update, where EXIT goes too
    }

    // What the Update prompt offers, against the newest release 1.6.0.
    void versionCheck_data()
    {
        QTest::addColumn<VersionCase>("c");
        QTest::newRow("newest") << VersionCase{"1.6.0.0", false, false, nullptr, true};
        QTest::newRow("newest, version first") << VersionCase{"1.6.0", true, false, nullptr, true};
        QTest::newRow("pre-release") << VersionCase{"1.10.0-rc1", false, false, nullptr, true};
        QTest::newRow("older") << VersionCase{"1.5.2", false, false, nullptr, false};
        QTest::newRow("unknown") << VersionCase{"unknown", false, false, nullptr, false};
        QTest::newRow("late on the prompt") << VersionCase{"1.6.0", false, true, nullptr, true};
        QTest::newRow("older after newest") << VersionCase{"1.6.0", false, false, "1.5.2", false};
    }

    void versionCheck()
    {
        QFETCH(VersionCase, c);
        SimulatedWorld::Options options;
        options.firmwareVersion = c.firmware;
        ServeRule catalogue;
        if (c.catalogueLate) {
            options.plugInAfterMs = 0;
            catalogue.body = ServeRule::Body::Trickle;
            catalogue.trickleBytes = 60; // a chunk a second
        }
        const LogWatch log;
        Harness h(options, catalogue);
        h.world.instrument().setReplyDelay(c.replyLate ? 3000 : 5);
        const auto decided = [&](const QString &version, bool current) {
            return log.messages().count("INFO DW: Tovik runs " + version +
                                        ", the newest release is 1.6.0: " +
                                        (current ? "already up to date" : "update offered"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("updateButton"), foundWithinMs);
        if (c.catalogueLate) {
            QTRY_COMPARE_WITH_TIMEOUT(h.windowProperty("deviceVersion").toString(), c.firmware,
                                      foundWithinMs);
            QVERIFY(h.text("versionText").startsWith("Looking for the latest version"));
        }
        if (c.then) {
            QTRY_COMPARE_WITH_TIMEOUT(decided(c.firmware, true), 1, foundWithinMs);
            h.world.instrument().unplug();
            h.world.instrument().setVersion(c.then);
            QTRY_COMPARE_WITH_TIMEOUT(h.isConnected(), false, foundWithinMs);
            h.world.instrument().plugIn();
        }
        if (c.replyLate)
            QVERIFY(h.click("updateButton") && h.isShown("startUpdateButton"));
        QTRY_COMPARE_WITH_TIMEOUT(decided(c.then ? c.then : c.firmware, c.installed), 1,
                                  foundWithinMs);
        if (!c.replyLate)
            QVERIFY(h.click("updateButton"));
        QTRY_COMPARE(h.isShown("closeApplicationButton"), c.installed);
        QCOMPARE(h.isShown("startUpdateButton"), !c.installed);
        QCOMPARE(h.text("infoText").startsWith("The latest version is already installed!"),
                 c.installed);
    }

    // Back from applying the update, the instrument reports the firmware it now runs.
    void updateConfirmation()
    {
        const char *confirmed = "Update complete! Tovik now runs firmware Tvx1.6.0. You can now "
                                "close this application.";
        const struct
        {
            SimulatedInstrument::Faults faults;
            const char *info;
            const char *logged;
        } cases[] = {
            {SimulatedInstrument::NoFault, confirmed,
             "INFO DW: Update confirmed: Tovik runs 1.6.0"},
            {SimulatedInstrument::KeepsOldFirmware,
             "Tovik still reports firmware Tvx1.5.2 after the update, so the update did not take. "
             "Start the application again to retry, or contact support.",
             "WARN DW: Update not confirmed: Tovik reports 1.5.2, expected 1.6.0"},
            // Back too late for the finish sequence, it is sent the owed message and reboots
            // again: what it says before that reboot is not the update's outcome.
            {SimulatedInstrument::ReturnAfterDetectionBudget, confirmed,
             "INFO DW: Update confirmed: Tovik runs 1.6.0"},
        };
        for (const auto &c : cases) {
            const LogWatch log;
            Harness h;
            h.world.instrument().setFaults(c.faults);
            reachHome(h);
            startUpdate(h);
            QTRY_COMPARE_WITH_TIMEOUT(h.text("versionText"),
                                      QStringLiteral("File transfer complete!"), flowWithinMs);
            QTRY_COMPARE_WITH_TIMEOUT(h.text("infoText"), QString(c.info), flowWithinMs);
            QCOMPARE(log.messages().count(c.logged), 1);
            QVERIFY_LAYOUT(h);
        }
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

    // A copy that failed: TRY AGAIN copies the same file once more while the volume is there.
    void retryAfterFailedCopy_data()
    {
        QTest::addColumn<CopyFault>("fault");
        QTest::newRow("write refused once") << CopyFault::WriteRefusedOnce;
        QTest::newRow("dismount refused once") << CopyFault::DismountRefusedOnce;
        QTest::newRow("volume gone") << CopyFault::VolumeGone;
    }

    void retryAfterFailedCopy()
    {
        QFETCH(CopyFault, fault);
        const QString volume = QStringLiteral("tovikupd");
        Harness h;
        if (fault == CopyFault::WriteRefusedOnce)
            h.world.volumes().refuseNextWrites(volume, 1);
        if (fault == CopyFault::DismountRefusedOnce)
            h.world.volumes().setDismountError(volume, QStringLiteral("busy"));
        if (fault == CopyFault::VolumeGone)
            h.volumeFaults.setVanishAfterBytes(volume, 10000);
        reachHome(h);
        startUpdate(h);
        QTRY_COMPARE_WITH_TIMEOUT(h.text("infoText"),
                                  QStringLiteral("Something went wrong during the file transfer. "
                                                 "Please try again or contact support."),
                                  flowWithinMs);
        QVERIFY(h.isShown("closeApplicationButton"));
        if (fault == CopyFault::VolumeGone) {
            QTest::qWait(1500);
            QVERIFY(!h.isShown("tryAgainButton"));
            // Offered again once the volume is back.
            h.world.volumes().present(volume);
            QTRY_VERIFY_WITH_TIMEOUT(h.isShown("tryAgainButton"), foundWithinMs);
            return;
        }
        h.world.volumes().setDismountError(volume, QString());
        QVERIFY_LAYOUT(h);
        const LogWatch log;
        QVERIFY(h.click("tryAgainButton"));
        QVERIFY(!h.isShown("tryAgainButton"));
        expectCompleted(h, fault == CopyFault::DismountRefusedOnce ? 2 : 1);
        QCOMPARE(log.count("FM: update try 2, at the user's request"), 1);
        QCOMPARE(h.received(updateMode), 1);
    }

    // Started with the instrument still in update mode: RESUME UPDATE copies the file it needs
    // (the checked copy, else a download) without the update-mode message; offline, EXIT.
    void resumeAtStart_data()
    {
        QTest::addColumn<Waiting>("waiting");
        QTest::newRow("complete copy") << Waiting::WithCompleteCopy;
        QTest::newRow("no copy") << Waiting::WithoutCopy;
        QTest::newRow("offline, no copy") << Waiting::Offline;
    }

    void resumeAtStart()
    {
        QFETCH(Waiting, waiting);
        SimulatedWorld::Options options;
        options.leftInUpdateMode = true;
        const LogWatch log;
        Harness h(options, {ServeRule::Head::Normal, waiting == Waiting::Offline
                                                         ? ServeRule::Body::NotFound404
                                                         : ServeRule::Body::Normal});
        if (waiting == Waiting::WithCompleteCopy)
            QVERIFY(writeFile(h.updater->downloader().downloadDirectory + '/' +
                                  h.world.updateFileName(),
                              h.world.updateFileBytes()));
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("resumeUpdateButton"), foundWithinMs);
        QCOMPARE(h.indicator(), QStringLiteral("Tovik is waiting for its update"));
        QCOMPARE(h.text("versionText"), QStringLiteral("The last update did not finish."));
        QVERIFY(h.isShown("infoText") && !h.isShown("infoConnectText"));
        QVERIFY(h.text("infoText").startsWith("PLEASE MAKE SURE"));
        QCOMPARE(log.count("FM: Tovik is in update mode without an update in progress"), 1);
        QVERIFY_LAYOUT(h);
        QVERIFY(h.click("resumeUpdateButton"));
        if (waiting == Waiting::Offline) {
            QTRY_VERIFY_WITH_TIMEOUT(h.isShown("closeApplicationButton"), flowWithinMs);
            QVERIFY(h.text("infoText").contains("update file") &&
                    h.text("infoText").contains("check the internet connection"));
            QVERIFY(!h.isShown("resumeUpdateButton"));
            QVERIFY_LAYOUT(h);
            return;
        }
        expectCompleted(h);
        QCOMPARE(h.received(updateMode), 0);
        QCOMPARE(h.world.server().requestCount("GET", h.world.updateFileName()),
                 waiting == Waiting::WithoutCopy ? 1 : 0);
    }
};

int main(int argc, char *argv[])
{
    // A download directory of this run's own, so no earlier run's copy is found.
    QTemporaryDir downloads;
    qputenv("TMPDIR", downloads.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    TestE2eUpdate test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_update.moc"
