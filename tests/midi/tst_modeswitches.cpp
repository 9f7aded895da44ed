// Transfer and update modes in and out against the simulated instrument, timed from the entry
// points; the test stands in for the storage side.
#include "MidiTestSupport.h"

#include "diagnostics/Logging.h"

#include <QtTest>

namespace {
constexpr int reenumerationMs = 300;

// Connected rig, version already reported; the instrument re-enumerates quickly.
bool connectQuickRig(SimRig &rig)
{
    rig.instrument->setReenumerationDelay(reenumerationMs);
    return rig.connectHandler();
}

// One sequence started at `start`: reopened after 2000 ms and a tick, then sends 400 ms later and
// 500 ms apart, ending finishedAfterFound after the reopening.
void verifySequence(SimRig &rig, qint64 start, const SysExMessage &message, int index, int sends,
                    int finishedAfterFound)
{
    QVERIFY(rig.recorder->waitFor("deviceReenumerationFinished", index + 1, 12000));
    const qint64 found = openedAfter(*rig.instrument, start).value(0);
    QVERIFY_AT(found - start, 2000 + 50);
    const QList<qint64> sent = receivedAfter(*rig.instrument, message, found);
    QCOMPARE(sent.size(), sends);
    for (int i = 0; i < sent.size(); ++i)
        QVERIFY_AT(sent[i] - found, 400 + 500 * i);
    QVERIFY_AT(rig.recorder->timeOf("deviceReenumerationFinished", index) - found,
               finishedAfterFound);
}
} // namespace

class TestModeSwitches : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initLogging(QStringLiteral("test")); }

    void transferInAndOut_data()
    {
        QTest::addColumn<bool>("confirms");
        QTest::addColumn<int>("replyDelay");
        QTest::addColumn<bool>("loopback");
        QTest::addColumn<int>("sends");
        QTest::addColumn<int>("finishedAfterFound");
        QTest::addColumn<QStringList>("sequence");
        const QStringList confirmedFirst = {"transferSysExReceived",
                                            "deviceReenumerationFinished:true"};
        // Confirmation 100 ms after the first send: the second send step ends the sequence.
        QTest::newRow("confirmed before the second send")
            << true << 100 << false << 1 << 900 << confirmedFirst;
        // 1200 ms after each send lies after the third: the final wait sees all three.
        QTest::newRow("confirmed after the third send")
            << true << 1200 << false << 3 << 4400
            << QStringList({"transferSysExReceived", "transferSysExReceived",
                            "transferSysExReceived", "deviceReenumerationFinished:true"});
        QTest::newRow("never confirmed") << false << 0 << false << 3 << 4400 << confirmedFirst;
        // A cable from the host's output to its input echoes the request, which is
        // byte-identical to the confirmation: the sequence ends as if the instrument confirmed.
        QTest::newRow("loop-back cable") << false << 0 << true << 1 << 900 << confirmedFirst;
    }

    void transferInAndOut()
    {
        QFETCH(bool, confirms);
        QFETCH(int, replyDelay);
        QFETCH(bool, loopback);
        QFETCH(int, sends);
        QFETCH(int, finishedAfterFound);
        QFETCH(QStringList, sequence);

        SimRig rig;
        QVERIFY(connectQuickRig(rig));
        rig.instrument->setConfirms(confirms);
        rig.instrument->setReplyDelay(replyDelay);
        QSignalSpy volumes(rig.instrument.get(), &SimulatedInstrument::volumePresented);
        int before = rig.signalCount();
        const qint64 start = monotonicMs();
        rig.handler->sendTransferSysEx();
        // Only from now on: the request sent before the switch would echo too, racing the closing.
        rig.instrument->setLoopback(loopback);
        // The message goes out on the open ports before anything else happens.
        QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_START, start).size(), 1);
        QVERIFY(volumes.wait(reenumerationMs + lateMs));
        QCOMPARE(volumes.first().first().toString(), QStringLiteral("TOVIK"));
        verifySequence(rig, start, MIDI_SYSEX_TRANSFER_START, 0, sends, finishedAfterFound);
        // The reopening never told the window about a connection, and nothing more is released
        // later (the acknowledgement timeout was stopped).
        QTest::qWait(1000 + lateMs);
        QCOMPARE(rig.recorder->sequence(before), sequence);
        QCOMPARE(rig.instrument->mode(), SimulatedInstrument::Mode::Transfer);

        // The volume was dismounted; the storage side reports the eject. The end goes the same
        // way, and nothing goes out until the instrument is back.
        before = rig.signalCount();
        const qint64 back = monotonicMs();
        rig.instrument->onVolumeDismounted(QStringLiteral("TOVIK"));
        rig.handler->onEjectCompleted(true);
        QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_END, start).size(), 0);
        verifySequence(rig, back, MIDI_SYSEX_TRANSFER_END, 1, sends, finishedAfterFound);
        QTest::qWait(1000 + lateMs);
        QCOMPARE(rig.recorder->sequence(before),
                 sequence.replaceInStrings("transferSysExReceived", "transferSysExEndReceived"));
        QCOMPARE(rig.instrument->mode(), SimulatedInstrument::Mode::Midi);
        // Polling is back; a switch asks for no version.
        QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_VERSION_REQUEST, start).size(), 0);
        rig.instrument->unplug();
        QVERIFY(rig.recorder->waitFor("deviceFound", 2, 1000 + lateMs));
    }

    void ejectFailureReleasesAtOnce()
    {
        SimRig rig;
        QVERIFY(connectQuickRig(rig));
        const LogWatch log;
        const qint64 start = monotonicMs();
        rig.instrument->bus()->clearEvents();
        rig.handler->onEjectCompleted(false);
        QVERIFY(rig.recorder->waitFor("transferSysExEndReceived", 1, 100));
        QCOMPARE(log.count("MH: Eject reported failure; releasing the UI anyway"), 1);
        // The ports are untouched and polling goes on: a loss is still noticed.
        QTest::qWait(500);
        QVERIFY(rig.instrument->bus()->events().empty());
        rig.instrument->unplug();
        QVERIFY(rig.recorder->waitFor("deviceFound", 2, 1000 + lateMs));
        QCOMPARE(rig.recorder->count("deviceReenumerationFinished"), 0);
        QVERIFY(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_END, start).isEmpty());
    }

    void failedDownloadAndCopySendNothing()
    {
        SimRig rig;
        QVERIFY(rig.connectHandler());
        const qint64 start = monotonicMs();
        const LogWatch log;

        rig.handler->fileDownloaded(false);
        QCOMPARE(rig.recorder->count("deviceSetToTransferMode"), 0);
        QTest::qWait(200);
        QCOMPARE(rig.instrument->received().size(), 1); // the version request only

        // Download fine, copy failed: the update-mode message went out, nothing follows it.
        rig.handler->fileDownloaded(true);
        QCOMPARE(rig.recorder->count("deviceSetToTransferMode"), 1);
        QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_UPDATE_MODE, start).size(), 1);
        rig.handler->transferComplete(false);
        QCOMPARE(log.count("TRACE transferComplete(success=false)"), 1);
        QCOMPARE(rig.recorder->count("updateTransferDone"), 0);

        // Polling stays stopped: the instrument's departure is never reported.
        QTest::qWait(2000 + lateMs);
        QCOMPARE(rig.recorder->count("deviceFound"), 1);
        QCOMPARE(rig.instrument->received().size(), 2);
    }

    void fullUpdate()
    {
        SimRig rig;
        rig.instrument->setRebootDelay(1000);
        rig.instrument->setApplyDelay(2000);
        rig.instrument->setApplyDuration(5000);
        rig.instrument->setUpdateVersion(QStringLiteral("1.6.0"));
        QVERIFY(connectQuickRig(rig));

        // The storage side: copy onto the update volume, dismount it, report success.
        qint64 copied = 0;
        QObject::connect(rig.instrument.get(), &SimulatedInstrument::volumePresented,
                         rig.handler.get(), [&](const QString &label) {
                             QCOMPARE(label, QStringLiteral("tovikupd"));
                             rig.instrument->onVolumeDismounted(label);
                             copied = monotonicMs();
                             rig.handler->transferComplete(true);
                         });
        const qint64 start = monotonicMs();
        rig.handler->fileDownloaded(true);
        QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_UPDATE_MODE, start).size(), 1);
        QVERIFY(rig.recorder->waitFor("updateTransferDone", 1, 2000));
        // The sequence starts 750 ms after the copy; update finish is sent three times.
        verifySequence(rig, copied + 750, MIDI_SYSEX_UPDATE_FINISH, 0, 3, 4400);

        // The instrument reboots to apply the update; polling sees it go and come back, and asks.
        QVERIFY(rig.recorder->waitFor("tovikReceivedVersion", 2, 10000));
        QCOMPARE(rig.recorder->sequence(),
                 QStringList({"deviceFound:true", "tovikReceivedVersion:1.5.0",
                              "deviceSetToTransferMode", "updateTransferDone",
                              "deviceReenumerationFinished:true", "deviceFound:false",
                              "deviceFound:true", "tovikReceivedVersion:1.6.0"}));
    }
};

QTEST_GUILESS_MAIN(TestModeSwitches)
#include "tst_modeswitches.moc"
