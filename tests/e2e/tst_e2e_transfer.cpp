#include "tests/support/Harness.h"

#include "diagnostics/Logging.h"
#include "tests/support/FileBrowserDouble.h"

#include <QGuiApplication>
#include <QtTest>

using Fault = SimulatedInstrument::Fault;

// The file transfer: into transfer mode, the four folders, DONE and back home; and the link to
// an instrument that is slow, wiggles its cable or whose driver misbehaves.
class TestE2eTransfer : public QObject
{
    Q_OBJECT

    FileBrowserDouble browser;

    // The window's flow flags after what the real objects did (what each state shows is the
    // window tests' business; here it must fit).
    void expectFlow(Harness &h, bool inTransferFlow)
    {
        QCOMPARE(h.windowProperty("inTransferFlow").toBool(), inTransferFlow);
        QCOMPARE(h.windowProperty("inReenumeration").toBool(), false);
        QVERIFY_LAYOUT(h);
    }

    // Transfer pressed: the animation runs until the instrument is back in transfer mode.
    void enterTransferMode(Harness &h)
    {
        QVERIFY(h.click("transferButton"));
        QVERIFY(h.text("versionText").startsWith(QStringLiteral("Connecting to Tovik")));
        QVERIFY_LAYOUT(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("openProjectsButton"), flowWithinMs);
        expectFlow(h, true);
    }

    void finishTransfer(Harness &h)
    {
        QVERIFY(h.click("completeTransferButton"));
        QVERIFY(h.text("versionText").startsWith(QStringLiteral("Finalizing Transfer")));
        QVERIFY_LAYOUT(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("updateButton") && h.isShown("transferButton"),
                                 flowWithinMs);
        expectFlow(h, false);
    }

private slots:
    // As in the program, everything the objects say goes to a log file, kept with the test;
    // only now, or the test library would take the messages over again.
    void initTestCase() { initLogging(QStringLiteral("1.3.2")); }
    void transferRoundTrip()
    {
        Harness h;
        // Streaming clock bytes, back in two steps and as another client on every switch.
        h.world.instrument().setFaults(Fault::SendActiveSensingAndClock |
                                       Fault::ReturnPortsOnDifferentTicks |
                                       Fault::ReturnWithNewPortIdentity);
        reachHome(h);
        QVERIFY_LAYOUT(h);
        enterTransferMode(h);
        QCOMPARE(h.received(transferStart), 2); // before and after the switch

        const std::pair<const char *, const char *> folders[] = {
            {"openProjectsButton", "projects"},
            {"openDefinitionsButton", "instrument_definitions"},
            {"openMidiFilesButton", "MIDI_Clips"},
            {"openGroovesButton", "grooves"}};
        for (const auto &[button, folder] : folders) {
            const qsizetype opened = browser.requests().size();
            QVERIFY(h.click(button));
            QTRY_COMPARE(browser.requests().size(), opened + 1);
            const QString expected = h.world.volumeFolder("TOVIK") + '/' + folder;
            QCOMPARE(browser.requests().last().first.toLocalFile(), expected);
            QVERIFY(QFileInfo(expected).isDir());
            // The window's request reaches the FileManager on the worker thread.
            QCOMPARE(browser.requests().last().second, &h.updater->workerThread());
        }

        // So does DONE: the volume is dismounted there.
        QThread *dismountedOn = nullptr;
        connect(
            &h.world.volumes(), &SimulatedVolumes::volumeDismounted, this,
            [&] { dismountedOn = QThread::currentThread(); }, Qt::DirectConnection);
        finishTransfer(h);
        QCOMPARE(dismountedOn, &h.updater->workerThread());
        QVERIFY(!h.world.volumes().isMounted("TOVIK"));
        QCOMPARE(h.volumeFaults.dismountRequests().size(), 1);
        QCOMPARE(h.received(transferEnd), 1);

        // The flow can be repeated.
        enterTransferMode(h);
        finishTransfer(h);
    }

    // A file held open on the volume: the user stays in transfer mode, told why, and DONE works
    // again once the file is closed. Nothing reaches the instrument before the real dismount.
    void failedEjectKeepsTransferMode()
    {
        Harness h;
        h.world.volumes().setDismountError("TOVIK", "org.freedesktop.UDisks2.Error.DeviceBusy");
        reachHome(h);
        enterTransferMode(h);
        QVERIFY(h.click("completeTransferButton"));
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("completeTransferButton"), flowWithinMs);
        QCOMPARE(h.text("transferInfoText"),
                 QStringLiteral("Tovik's storage could not be released. Close any file that is "
                                "open on it, then press DONE again."));
        expectFlow(h, true);
        QVERIFY(h.world.volumes().isMounted("TOVIK"));
        QCOMPARE(h.received(transferEnd), 0);

        h.world.volumes().setDismountError("TOVIK", QString());
        finishTransfer(h);
        QVERIFY(!h.world.volumes().isMounted("TOVIK"));
        QCOMPARE(h.received(transferEnd), 1);
    }

    // Ejected in the file manager, or remounted read-only, before DONE: DONE still goes home.
    void volumeEjectedBeforeDone()
    {
        Harness h;
        reachHome(h);
        for (const bool readOnly : {true, false}) {
            enterTransferMode(h);
            QVERIFY(h.world.volumes().removeVolume("TOVIK"));
            if (readOnly)
                h.world.volumes().addVolume("TOVIK", h.world.volumeFolder("TOVIK"), {true, true});
            finishTransfer(h);
            QCOMPARE(h.volumeFaults.dismountRequests().size(), 1); // the read-only one
            QCOMPARE(h.received(transferEnd), readOnly ? 1 : 2);
        }
    }

    void slowReturnReleasesWindow_data()
    {
        QTest::addColumn<bool>("atEnd");
        QTest::newRow("into transfer mode") << false;
        QTest::newRow("back from transfer mode") << true;
    }

    // Back only after the link's detection pass: the window goes home on time and shows the
    // instrument as absent, then as found once it is back; the transfer end still reaches it.
    void slowReturnReleasesWindow()
    {
        QFETCH(bool, atEnd);
        Harness h;
        reachHome(h);
        if (atEnd)
            enterTransferMode(h);
        h.world.instrument().setFaults(Fault::ReturnAfterDetectionBudget |
                                       Fault::ReturnWithNewPortIdentity);
        QElapsedTimer pressed;
        pressed.start();
        QVERIFY(h.click(atEnd ? "completeTransferButton" : "transferButton"));
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is not connected"),
                                  2 * detectionBudgetMs);
        QVERIFY2(pressed.elapsed() >= detectionBudgetMs &&
                     pressed.elapsed() < detectionBudgetMs + 1000,
                 qPrintable(QString::number(pressed.elapsed())));
        expectFlow(h, false);
        QVERIFY(!h.isShown("versionText") && !h.isShown("updateButton"));
        QVERIFY(h.isShown("infoConnectText") && !h.isConnected());
        // Home again, with both actions, once the instrument is back.
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("transferButton"), foundWithinMs);
        QTRY_COMPARE(h.received(transferEnd), atEnd ? 1 : 0);
    }

    // Confirmed only after the third send, so the link is in its final wait when DONE comes, and
    // back slowly from the eject: that wait must not end the transfer end, nor may its
    // acknowledgement timeout release the window a second time.
    void lateConfirmationThenDone()
    {
        Harness h;
        h.world.instrument().setReplyDelay(sendMs(2));
        h.world.instrument().setReenumerationDelay(3000); // the length of the final wait
        reachHome(h);
        enterTransferMode(h);
        QSignalSpy ended(&h.updater->midiHandler(), &MidiHandler::deviceReenumerationFinished);
        QVERIFY(h.click("completeTransferButton"));
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("updateButton"), flowWithinMs);
        QCOMPARE(h.received(transferEnd), 3);          // the confirmation came after the third
        QTest::qWait(releasedAfterFirstSendMs + 1000); // nothing more may happen
        QCOMPARE(ended.size(), 1);
        QVERIFY(h.isShown("updateButton"));
    }

    // Only a confirmation of the other message: it ends nothing, the link's time-out releases.
    void strayConfirmationOfTheOtherKind()
    {
        Harness h;
        reachHome(h);
        h.world.instrument().setConfirms(false);
        for (const bool atEnd : {false, true}) {
            const SysExMessage &sent = atEnd ? transferEnd : transferStart;
            const int sentOnReturn = h.received(sent) + (atEnd ? 1 : 2);
            QVERIFY(h.click(atEnd ? "completeTransferButton" : "transferButton"));
            QTRY_VERIFY_WITH_TIMEOUT(h.received(sent) >= sentOnReturn, flowWithinMs);
            h.world.instrument().bus()->instrumentSend(atEnd ? transferStart : transferEnd);
            QTRY_VERIFY_WITH_TIMEOUT(h.isShown(atEnd ? "updateButton" : "openProjectsButton"),
                                     flowWithinMs);
            expectFlow(h, !atEnd);
        }
    }

    void portThatFailsToOpen_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::newRow("input") << Fault::FailOpenInputPort;
        QTest::newRow("output") << Fault::FailOpenOutputPort;
    }

    // The driver refuses a port: no connection is claimed, and the next check after it lets go
    // connects and asks the version.
    void portThatFailsToOpen()
    {
        QFETCH(Fault, fault);
        SimulatedWorld::Options options;
        options.plugInAfterMs = -1;
        Harness h(options);
        h.world.instrument().setFaults(fault);
        h.world.instrument().plugIn();
        QTest::qWait(3 * pollEveryMs); // three checks that must not connect
        QCOMPARE(h.indicator(), QStringLiteral("Looking for Tovik"));
        QVERIFY(!h.isConnected() && !h.isShown("updateButton"));
        h.world.instrument().setFaults({});
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("transferButton"), foundWithinMs);
        QCOMPARE(h.indicator(), QStringLiteral("Tovik is connected"));
    }

    // A cable wiggle before the version request: that send blocks in the driver and fails, and
    // the reconnect that follows finds nothing. The loss shows, and the return is a new
    // connection that asks the version.
    void lossFoundByReconnect()
    {
        SimulatedWorld::Options options;
        options.plugInAfterMs = -1;
        Harness h(options);
        h.world.instrument().setFaults(Fault::BlockSendToVanishedPort |
                                       Fault::ReturnWithNewPortIdentity);
        h.world.instrument().plugIn();
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is connected"),
                                  foundWithinMs);
        h.world.instrument().unplug();
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is not connected"),
                                  foundWithinMs);
        h.world.instrument().plugIn();
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("transferButton"), foundWithinMs);
    }
};

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    TestE2eTransfer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_transfer.moc"
