// Transfer and update modes in and out against the simulated instrument, timed from the entry
// points, and the passes that go wrong; the test stands in for the storage side.
#include "tests/support/Files.h"
#include "tests/support/SimulatedRig.h"

#include "diagnostics/Logging.h"

namespace {
constexpr int nextCheckMs = pollEveryMs + lateMs;

// One sequence started at `start`: reopened at the first detection tick, then its sends, ending
// finishedAfterFound after the reopening.
void verifySequence(SimulatedRig &rig, qint64 start, const SysExMessage &message, int index,
                    int sends, int finishedAfterFound)
{
    QVERIFY(rig.recorder->waitFor("deviceReenumerationFinished", index + 1, 12000));
    const qint64 found = rig.openedAfter(start).value(0);
    QVERIFY_AT(found - start, reopenedMs);
    const QList<qint64> sent = rig.receivedAfter(message, found);
    QCOMPARE(sent.size(), sends);
    for (int i = 0; i < sent.size(); ++i)
        QVERIFY_AT(sent[i] - found, sendMs(i));
    QVERIFY_AT(rig.recorder->timeOf("deviceReenumerationFinished", index) - found,
               finishedAfterFound);
}

struct TransferCase
{
    int replyDelayMs; // after each send; -1: never confirms
    bool loopback;
    int sends;
    int finishedAfterFoundMs;
    int confirmations;
};
struct RecreateCase
{
    int sendErrors;
    int openings;
    int finishedAfterFirstFoundMs;
    int delivered;
};
} // namespace
Q_DECLARE_METATYPE(TransferCase)
Q_DECLARE_METATYPE(RecreateCase)

class TestModeSwitches : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initLogging(QStringLiteral("test")); }

    void init()
    {
        rig.reset();
        rig = std::make_unique<SimulatedRig>();
        rig->instrument->setReenumerationDelay(300);
        QVERIFY(rig->connectHandler());
    }

    void transferInAndOut_data()
    {
        QTest::addColumn<TransferCase>("c");
        // The confirmation before the second send ends the sequence at that send's step.
        QTest::newRow("confirmed before the second send") << TransferCase{100, false, 1, 900, 1};
        // Later than the third send (at 1400 ms): the final wait sees all three.
        QTest::newRow("confirmed after the third send") << TransferCase{1200, false, 3, 4400, 3};
        QTest::newRow("never confirmed") << TransferCase{-1, false, 3, 4400, 1};
        // A loop-back cable echoes the request, byte-identical to the confirmation.
        QTest::newRow("loop-back cable") << TransferCase{-1, true, 1, 900, 1};
    }

    void transferInAndOut()
    {
        QFETCH(TransferCase, c);
        rig->instrument->setConfirms(c.replyDelayMs >= 0);
        rig->instrument->setReplyDelay(qMax(0, c.replyDelayMs));

        for (const bool in : {true, false}) {
            const QString ack = in ? "transferSysExReceived" : "transferSysExEndReceived";
            const SysExMessage &message = in ? transferStart : transferEnd;
            const qsizetype before = rig->recorder->events.size();
            const qint64 start = SignalRecorder::nowMs();
            if (in) {
                rig->handler->sendTransferSysEx();
                // Only now: the version request would echo too, racing the closing.
                rig->instrument->setLoopback(c.loopback);
                // The message goes out on the open ports before anything else happens.
                QCOMPARE(rig->receivedAfter(message, start).size(), 1);
            } else {
                // The storage side dismounted the volume; nothing goes out until it is back.
                rig->instrument->onVolumeDismounted(QStringLiteral("TOVIK"));
                rig->handler->onEjectCompleted(true);
                QVERIFY(rig->receivedAfter(message, start).isEmpty());
            }
            verifySequence(*rig, start, message, in ? 0 : 1, c.sends, c.finishedAfterFoundMs);
            // The reopening told the window of no connection, and the acknowledgement timeout was
            // stopped with the sequence: nothing more is released, even past that timeout.
            const qint64 timeout = rig->openedAfter(start).value(0) + firstSendAfterReopenMs +
                                   releasedAfterFirstSendMs + lateMs;
            const bool confirmed = c.replyDelayMs >= 0 || c.loopback;
            QTest::qWait(in || confirmed ? nextCheckMs : int(timeout - SignalRecorder::nowMs()));
            QStringList expected(c.confirmations, ack);
            expected.append("deviceReenumerationFinished true");
            QCOMPARE(rig->recorder->events.mid(before), expected);
        }
        // Polling is back; a switch asks for no version.
        QCOMPARE(rig->receivedAfter(versionRequest, 0).size(), 1);
        rig->instrument->unplug();
        QVERIFY(rig->recorder->waitFor("deviceFound", 2, nextCheckMs));
    }

    void failuresSendNothing()
    {
        const qint64 start = SignalRecorder::nowMs();
        const LogWatch log;
        rig->instrument->clearEvents();
        rig->handler->fileDownloaded(false);
        // The volume is still mounted: the window stays in transfer mode, nothing is released.
        rig->handler->onEjectCompleted(false);
        // The ports are untouched, nothing was sent, and polling goes on: a loss is noticed.
        QTest::qWait(500);
        QVERIFY(rig->instrument->events().empty());
        rig->instrument->unplug();
        QVERIFY(rig->recorder->waitFor("deviceFound", 2, nextCheckMs));
        rig->instrument->plugIn();
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, versionAskedMs + 2 * lateMs));

        // Download fine, copy failed: the update-mode message went out, nothing follows it.
        rig->handler->fileDownloaded(true);
        QCOMPARE(rig->receivedAfter(updateMode, start).size(), 1);
        rig->handler->transferComplete(false);
        QCOMPARE(log.count("TRACE transferComplete(success=false)"), 1);
        // Polling resumes: the instrument's departure into update mode is reported.
        QVERIFY(rig->recorder->waitFor("deviceFound", 4, 2 * pollEveryMs + lateMs));
        QCOMPARE(rig->recorder->events,
                 QStringList({"deviceFound true", "tovikReceivedVersion 1.5.0", "deviceFound false",
                              "deviceFound true", "tovikReceivedVersion 1.5.0",
                              "deviceSetToTransferMode", "deviceFound false"}));
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
                             copied = SignalRecorder::nowMs();
                             rig->handler->transferComplete(true);
                         });
        rig->handler->fileDownloaded(true); // the volume shows only if update mode arrived
        QVERIFY(rig->recorder->waitFor("updateTransferDone", 1, 2000));
        // The sequence starts a while after the copy; update finish is sent three times.
        verifySequence(*rig, copied + finishAfterCopyMs, updateFinish, 0, 3, finalWaitEndMs);

        // The instrument reboots to apply the update; polling sees it go and come back, and asks.
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, 10000));
        QCOMPARE(rig->recorder->events,
                 QStringList({"deviceFound true", "tovikReceivedVersion 1.5.0",
                              "deviceSetToTransferMode", "updateTransferDone",
                              "deviceReenumerationFinished true", "deviceFound false",
                              "deviceFound true", "tovikReceivedVersion 1.6.0"}));
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
        const qsizetype before = rig->recorder->events.size();
        const qint64 start = SignalRecorder::nowMs();
        rig->handler->sendTransferSysEx();
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 1, detectionBudgetMs + 2000));
        // The whole detection pass; no port reopened, nothing more sent.
        QVERIFY_AT(rig->recorder->timeOf("deviceReenumerationFinished") - start, detectionBudgetMs);
        QVERIFY(rig->openedAfter(start).isEmpty());
        QCOMPARE(rig->receivedAfter(transferStart, start).size(), 1);

        // Polling resumed with the link marked not connected, so no loss is reported; once the
        // instrument is whole again it is found and asked for its version.
        QTest::qWait(nextCheckMs);
        rig->instrument->plugIn();
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, versionAskedMs + 2 * lateMs));
        QCOMPARE(rig->recorder->events.mid(before),
                 QStringList({"deviceReenumerationFinished false", "deviceFound true",
                              "tovikReceivedVersion 1.5.0"}));
    }

    // A send error, and then the instrument is gone for good: the second detection pass gives
    // up, and the acknowledgement timeout armed at the reopening releases nothing afterwards.
    void ackTimeoutEndsWithItsSequence()
    {
        const LogWatch log;
        const qsizetype before = rig->recorder->events.size();
        const qint64 start = SignalRecorder::nowMs();
        rig->handler->sendTransferSysEx();
        rig->instrument->failNextSends(1);
        QTRY_VERIFY_WITH_TIMEOUT(!rig->openedAfter(start).isEmpty(), 4000);
        const qint64 found = rig->openedAfter(start).value(0);
        // The first send after the reopening fails.
        QTRY_COMPARE_WITH_TIMEOUT(log.count("MH: RtMidi error (type 8 ): "), 1,
                                  firstSendAfterReopenMs + lateMs);
        rig->instrument->setNeverComesBack(true);
        rig->instrument->unplug();
        // Nothing may follow the give-up, not even once that timeout has passed.
        QTest::qWait(int(found + firstSendAfterReopenMs + releasedAfterFirstSendMs + lateMs -
                         SignalRecorder::nowMs()));
        QCOMPARE(rig->recorder->events.mid(before),
                 QStringList({"deviceReenumerationFinished false"}));
    }

    void sendErrorsRecreate_data()
    {
        // Each error re-creates the objects; detection restarts 1500 ms later and finds it at
        // the first tick: 1950 ms from the failed send to the next opening.
        QTest::addColumn<RecreateCase>("c");
        QTest::newRow("one error") << RecreateCase{1, 2, 2850, 2};
        // Four re-creations at most: the fifth error schedules nothing, and the timeout armed at
        // the first reconnection releases.
        QTest::newRow("five errors") << RecreateCase{5, 5, 15400, 1};
    }

    void sendErrorsRecreate()
    {
        QFETCH(RecreateCase, c);
        const LogWatch log;
        const qsizetype before = rig->recorder->events.size();
        const qint64 start = SignalRecorder::nowMs();
        rig->handler->sendTransferSysEx();
        rig->instrument->failNextSends(c.sendErrors);
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 1, 20000));
        QCOMPARE(log.count("MH: RtMidi error (type 8 ): "), c.sendErrors);
        const QList<qint64> opened = rig->openedAfter(start);
        QCOMPARE(opened.size(), c.openings);
        for (int i = 1; i < opened.size(); ++i)
            QVERIFY_AT(opened[i] - opened[i - 1], 1950);
        QVERIFY_AT(rig->recorder->timeOf("deviceReenumerationFinished") - opened[0],
                   c.finishedAfterFirstFoundMs);
        QCOMPARE(rig->recorder->events.mid(before),
                 QStringList({"transferSysExReceived", "deviceReenumerationFinished true"}));
        // Before the switch, and after the last re-creation when it succeeded.
        QCOMPARE(rig->receivedAfter(transferStart, start).size(), c.delivered);
    }

    void missingObjectsNeverCrash()
    {
        // Every construction fails: the re-creation leaves both objects null for the whole pass
        // and the polling after it.
        rig->instrument->failNextConstructions(1000000);
        const qint64 start = SignalRecorder::nowMs();
        rig->handler->sendTransferSysEx();
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 1, 9000));
        QTest::qWait(nextCheckMs);
        QVERIFY(rig->openedAfter(start).isEmpty());

        // Constructions work again: the next check finds the instrument (its MIDI ports up in
        // transfer mode) as a fresh connection.
        rig->instrument->failNextConstructions(0);
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, versionAskedMs + lateMs));

        // Once more in the middle of the switch back: sends are refused, nothing reaches the
        // instrument, and the ticks build the objects once they can.
        rig->instrument->failNextConstructions(1000000);
        const qint64 refused = SignalRecorder::nowMs();
        rig->handler->onEjectCompleted(true);
        rig->handler->fileDownloaded(true);
        QTest::qWait(1000);
        QVERIFY(rig->receivedAfter(updateMode, refused).isEmpty());
        rig->instrument->failNextConstructions(0);
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 2, 9000));
        QCOMPARE(rig->recorder->events,
                 QStringList({"deviceFound true", "tovikReceivedVersion 1.5.0",
                              "deviceReenumerationFinished false", "deviceFound true",
                              "tovikReceivedVersion 1.5.0", "deviceSetToTransferMode",
                              "transferSysExEndReceived", "deviceReenumerationFinished true"}));
    }

private:
    std::unique_ptr<SimulatedRig> rig;
};

QTEST_GUILESS_MAIN(TestModeSwitches)
#include "tst_modeswitches.moc"
