// Transfer and update modes in and out against the simulated instrument, timed from the entry
// points, and the passes that go wrong; the test stands in for the storage side.
#include "MidiTestSupport.h"

#include "diagnostics/Logging.h"

namespace {
// One sequence started at `start`: reopened after 2000 ms and a tick, then sends 400 ms later and
// 500 ms apart, ending finishedAfterFound after the reopening.
void verifySequence(SimRig &rig, qint64 start, const SysExMessage &message, int index, int sends,
                    int finishedAfterFound)
{
    QVERIFY(rig.recorder->waitFor("deviceReenumerationFinished", index + 1, 12000));
    const qint64 found = rig.openedAfter(start).value(0);
    QVERIFY_AT(found - start, 2000 + 50);
    const QList<qint64> sent = rig.receivedAfter(message, found);
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

    void init()
    {
        rig.reset();
        rig = std::make_unique<SimRig>();
        rig->instrument->setReenumerationDelay(300);
        QVERIFY(rig->connectHandler());
    }

    void transferInAndOut_data()
    {
        QTest::addColumn<int>("replyDelay"); // -1: never confirms
        QTest::addColumn<bool>("loopback");
        QTest::addColumn<int>("sends");
        QTest::addColumn<int>("finishedAfterFound");
        QTest::addColumn<int>("confirmations");
        // 100 ms after the first send: the second send step ends the sequence.
        QTest::newRow("confirmed before the second send") << 100 << false << 1 << 900 << 1;
        // 1200 ms after each send lies after the third: the final wait sees all three.
        QTest::newRow("confirmed after the third send") << 1200 << false << 3 << 4400 << 3;
        QTest::newRow("never confirmed") << -1 << false << 3 << 4400 << 1;
        // A loop-back cable echoes the request, byte-identical to the confirmation.
        QTest::newRow("loop-back cable") << -1 << true << 1 << 900 << 1;
    }

    void transferInAndOut()
    {
        QFETCH(int, replyDelay);
        QFETCH(bool, loopback);
        QFETCH(int, sends);
        QFETCH(int, finishedAfterFound);
        QFETCH(int, confirmations);
        rig->instrument->setConfirms(replyDelay >= 0);
        rig->instrument->setReplyDelay(qMax(0, replyDelay));

        for (const bool in : {true, false}) {
            const QString ack = in ? "transferSysExReceived" : "transferSysExEndReceived";
            const SysExMessage &message = in ? MIDI_SYSEX_TRANSFER_START : MIDI_SYSEX_TRANSFER_END;
            const int before = rig->signalCount();
            const qint64 start = monotonicMs();
            if (in) {
                rig->handler->sendTransferSysEx();
                // Only now: the version request would echo too, racing the closing.
                rig->instrument->setLoopback(loopback);
                // The message goes out on the open ports before anything else happens.
                QCOMPARE(rig->receivedAfter(message, start).size(), 1);
            } else {
                // The storage side dismounted the volume; nothing goes out until it is back.
                rig->instrument->onVolumeDismounted(QStringLiteral("TOVIK"));
                rig->handler->onEjectCompleted(true);
                QVERIFY(rig->receivedAfter(message, start).isEmpty());
            }
            verifySequence(*rig, start, message, in ? 0 : 1, sends, finishedAfterFound);
            // The reopening told the window of no connection, and the acknowledgement timeout was
            // stopped with the sequence: nothing more is released, even past that timeout.
            const qint64 timeout = rig->openedAfter(start).value(0) + MidiLink::firstSendDelayMs +
                                   MidiLink::ackTimeoutMs + lateMs;
            const bool confirmed = replyDelay >= 0 || loopback;
            QTest::qWait(in || confirmed ? 1000 + lateMs : int(timeout - monotonicMs()));
            QStringList expected(confirmations, ack);
            expected.append("deviceReenumerationFinished:true");
            QCOMPARE(rig->recorder->sequence.mid(before), expected);
        }
        // Polling is back; a switch asks for no version.
        QCOMPARE(rig->receivedAfter(MIDI_SYSEX_VERSION_REQUEST, 0).size(), 1);
        rig->instrument->unplug();
        QVERIFY(rig->recorder->waitFor("deviceFound", 2, 1000 + lateMs));
    }

    void failuresSendNothing()
    {
        const qint64 start = monotonicMs();
        const LogWatch log;
        rig->instrument->bus()->clearEvents();
        rig->handler->fileDownloaded(false);
        // The volume is still mounted: the window stays in transfer mode, nothing is released.
        rig->handler->onEjectCompleted(false);
        QCOMPARE(log.count("MH: Eject reported failure; staying in transfer mode"), 1);
        // The ports are untouched, nothing was sent, and polling goes on: a loss is noticed.
        QTest::qWait(500);
        QVERIFY(rig->instrument->bus()->events().empty());
        rig->instrument->unplug();
        QVERIFY(rig->recorder->waitFor("deviceFound", 2, 1000 + lateMs));
        rig->instrument->plugIn();
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, 1800 + 2 * lateMs));

        // Download fine, copy failed: the update-mode message went out, nothing follows it.
        rig->handler->fileDownloaded(true);
        QCOMPARE(rig->receivedAfter(MIDI_SYSEX_UPDATE_MODE, start).size(), 1);
        rig->handler->transferComplete(false);
        QCOMPARE(log.count("TRACE transferComplete(success=false)"), 1);
        // Polling stays stopped: the instrument's departure is never reported.
        QTest::qWait(2000 + lateMs);
        QCOMPARE(rig->recorder->sequence,
                 QStringList({"deviceFound:true", "tovikReceivedVersion:1.5.0", "deviceFound:false",
                              "deviceFound:true", "tovikReceivedVersion:1.5.0",
                              "deviceSetToTransferMode"}));
        QCOMPARE(rig->instrument->received().size(), 2); // since the clearing
    }

    void fullUpdate()
    {
        rig->instrument->setRebootDelay(1000);
        rig->instrument->setApplyDelay(2000);
        rig->instrument->setApplyDuration(5000);
        rig->instrument->setUpdateVersion(QStringLiteral("1.6.0"));

        // The storage side: copy onto the update volume, dismount it, report success.
        qint64 copied = 0;
        QObject::connect(rig->instrument.get(), &SimulatedInstrument::volumePresented,
                         rig->handler.get(), [&](const QString &label) {
                             rig->instrument->onVolumeDismounted(label);
                             copied = monotonicMs();
                             rig->handler->transferComplete(true);
                         });
        rig->handler->fileDownloaded(true); // the volume shows only if update mode arrived
        QVERIFY(rig->recorder->waitFor("updateTransferDone", 1, 2000));
        // The sequence starts 750 ms after the copy; update finish is sent three times.
        verifySequence(*rig, copied + 750, MIDI_SYSEX_UPDATE_FINISH, 0, 3, 4400);

        // The instrument reboots to apply the update; polling sees it go and come back, and asks.
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, 10000));
        QCOMPARE(rig->recorder->sequence,
                 QStringList({"deviceFound:true", "tovikReceivedVersion:1.5.0",
                              "deviceSetToTransferMode", "updateTransferDone",
                              "deviceReenumerationFinished:true", "deviceFound:false",
                              "deviceFound:true", "tovikReceivedVersion:1.6.0"}));
    }

    void givesUpAfterHundredTicks_data()
    {
        QTest::addColumn<SimulatedMidiBus::ReturningPorts>("returning");
        QTest::newRow("never comes back") << SimulatedMidiBus::ReturningPorts::Both;
        QTest::newRow("only its output returns") << SimulatedMidiBus::ReturningPorts::OutputOnly;
        QTest::newRow("only its input returns") << SimulatedMidiBus::ReturningPorts::InputOnly;
    }

    void givesUpAfterHundredTicks()
    {
        QFETCH(SimulatedMidiBus::ReturningPorts, returning);
        rig->instrument->setNeverComesBack(returning == SimulatedMidiBus::ReturningPorts::Both);
        rig->instrument->setReturningPorts(returning);
        const int before = rig->signalCount();
        const qint64 start = monotonicMs();
        rig->handler->sendTransferSysEx();
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 1, 7050 + 2000));
        // 2000 ms, then 101 ticks of 50 ms; no port reopened, nothing more sent.
        QVERIFY_AT(rig->recorder->timeOf("deviceReenumerationFinished") - start, 7050);
        QVERIFY(rig->openedAfter(start).isEmpty());
        QCOMPARE(rig->receivedAfter(MIDI_SYSEX_TRANSFER_START, start).size(), 1);

        // Polling resumed with the link marked not connected, so no loss is reported; once the
        // instrument is whole again it is found and asked for its version.
        QTest::qWait(1000 + lateMs);
        rig->instrument->plugIn();
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, 1800 + 2 * lateMs));
        QCOMPARE(rig->recorder->sequence.mid(before),
                 QStringList({"deviceReenumerationFinished:false", "deviceFound:true",
                              "tovikReceivedVersion:1.5.0"}));
    }

    // A send error, and then the instrument is gone for good: the second detection pass gives
    // up, and the acknowledgement timeout armed at the reopening releases nothing afterwards.
    void ackTimeoutEndsWithItsSequence()
    {
        const int before = rig->signalCount();
        const qint64 start = monotonicMs();
        rig->handler->sendTransferSysEx();
        rig->instrument->failNextSends(1);
        QTRY_VERIFY_WITH_TIMEOUT(!rig->openedAfter(start).isEmpty(), 4000);
        const qint64 found = rig->openedAfter(start).value(0);
        QTest::qWait(MidiLink::firstSendDelayMs + lateMs);
        rig->instrument->setNeverComesBack(true);
        rig->instrument->unplug();
        QTest::qWait(int(found + MidiLink::firstSendDelayMs + MidiLink::ackTimeoutMs + lateMs -
                         monotonicMs()));
        QCOMPARE(rig->recorder->sequence.mid(before),
                 QStringList({"deviceReenumerationFinished:false"}));
    }

    void sendErrorsRecreate_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("openings");
        QTest::addColumn<int>("finishedAfterFirstFound");
        QTest::addColumn<int>("delivered");
        // Each error re-creates the objects; detection restarts 1500 ms later and finds it at once.
        QTest::newRow("one error") << 1 << 2 << 400 + 1500 + 50 + 900 << 2;
        // The fifth error schedules nothing; the timeout armed at the first reconnection releases.
        QTest::newRow("five errors") << 5 << 5 << 400 + 15000 << 1;
    }

    void sendErrorsRecreate()
    {
        QFETCH(int, failures);
        QFETCH(int, openings);
        QFETCH(int, finishedAfterFirstFound);
        QFETCH(int, delivered);
        const LogWatch log;
        const int before = rig->signalCount();
        const qint64 start = monotonicMs();
        rig->handler->sendTransferSysEx();
        rig->instrument->failNextSends(failures);
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 1, 20000));
        QCOMPARE(log.count("MH: RtMidi error (type 8 ): "), failures);
        const QList<qint64> opened = rig->openedAfter(start);
        QCOMPARE(opened.size(), openings);
        for (int i = 1; i < opened.size(); ++i)
            QVERIFY_AT(opened[i] - opened[i - 1], 400 + 1500 + 50);
        QVERIFY_AT(rig->recorder->timeOf("deviceReenumerationFinished") - opened[0],
                   finishedAfterFirstFound);
        QCOMPARE(rig->recorder->sequence.mid(before),
                 QStringList({"transferSysExReceived", "deviceReenumerationFinished:true"}));
        // Before the switch, and after the last re-creation when it succeeded.
        QCOMPARE(rig->receivedAfter(MIDI_SYSEX_TRANSFER_START, start).size(), delivered);
    }

    void missingObjectsNeverCrash()
    {
        // Every construction fails: the re-creation leaves both objects null for the whole pass
        // and the polling after it.
        const LogWatch log;
        rig->instrument->failNextConstructions(1000000);
        const qint64 start = monotonicMs();
        rig->handler->sendTransferSysEx();
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 1, 9000));
        QTest::qWait(1000 + lateMs);
        QVERIFY(rig->openedAfter(start).isEmpty());

        // Constructions work again: the next check finds the instrument (its MIDI ports up in
        // transfer mode) as a fresh connection.
        rig->instrument->failNextConstructions(0);
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, 1800 + lateMs));

        // Once more in the middle of the switch back: sends are refused with a warning, and the
        // ticks build the objects once they can.
        rig->instrument->failNextConstructions(1000000);
        rig->handler->onEjectCompleted(true);
        rig->handler->fileDownloaded(true);
        QCOMPARE(log.count("MH: No MIDI output"), 1);
        QTest::qWait(1000);
        rig->instrument->failNextConstructions(0);
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 2, 9000));
        QCOMPARE(rig->recorder->sequence,
                 QStringList({"deviceFound:true", "tovikReceivedVersion:1.5.0",
                              "deviceReenumerationFinished:false", "deviceFound:true",
                              "tovikReceivedVersion:1.5.0", "deviceSetToTransferMode",
                              "transferSysExEndReceived", "deviceReenumerationFinished:true"}));
    }

private:
    std::unique_ptr<SimRig> rig;
};

QTEST_GUILESS_MAIN(TestModeSwitches)
#include "tst_modeswitches.moc"
