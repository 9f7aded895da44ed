// Re-enumeration passes that go wrong: the instrument never returns whole, driver errors while the
// pending message is delivered, MIDI objects that cannot be rebuilt.
#include "MidiTestSupport.h"

#include "diagnostics/Logging.h"

#include <QtTest>

class TestFaults : public QObject
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

    void givesUpAfterHundredTicks_data()
    {
        QTest::addColumn<bool>("neverBack");
        QTest::addColumn<SimMidiBus::ReturningPorts>("returning");
        QTest::newRow("never comes back") << true << SimMidiBus::ReturningPorts::Both;
        QTest::newRow("only its output returns") << false << SimMidiBus::ReturningPorts::OutputOnly;
        QTest::newRow("only its input returns") << false << SimMidiBus::ReturningPorts::InputOnly;
    }

    void givesUpAfterHundredTicks()
    {
        QFETCH(bool, neverBack);
        QFETCH(SimMidiBus::ReturningPorts, returning);
        rig->instrument->setNeverComesBack(neverBack);
        rig->instrument->setReturningPorts(returning);
        const int before = rig->signalCount();

        const qint64 start = monotonicMs();
        rig->handler->sendTransferSysEx();
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 1, 7050 + 2000));
        // 2000 ms, then 101 ticks of 50 ms.
        QVERIFY_NEAR(rig->recorder->timeOf("deviceReenumerationFinished") - start, 7050,
                     2 * lateMs);
        // No port was reopened and nothing but the first request went out.
        QVERIFY(openedAfter(*rig->instrument, start).isEmpty());
        QCOMPARE(receivedAfter(*rig->instrument, MIDI_SYSEX_TRANSFER_START, start).size(), 1);

        // Polling resumed with the link marked not connected, so the window is not told of a loss;
        // once the instrument is whole again it is found and asked for its version.
        QTest::qWait(1000 + lateMs);
        rig->instrument->plugIn();
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, 1800 + 2 * lateMs));
        QCOMPARE(rig->recorder->sequence(before),
                 QStringList({"deviceReenumerationFinished:false", "deviceFound:true",
                              "tovikReceivedVersion:1.5.0"}));
    }

    void sendErrorsRecreate_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("openings");
        QTest::addColumn<int>("finishedAfterFirstFound");
        QTest::addColumn<int>("delivered");
        // Each error re-creates the objects; detection restarts 1500 ms later and finds it at once.
        QTest::newRow("one error") << 1 << 2 << 400 + 1500 + 50 + 900 << 2;
        // Four re-creations; the fifth error schedules nothing and the timeout armed at the first
        // reconnection releases the window.
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
        const QList<qint64> opened = openedAfter(*rig->instrument, start);
        QCOMPARE(opened.size(), openings);
        for (int i = 1; i < opened.size(); ++i)
            QVERIFY_AT(opened[i] - opened[i - 1], 400 + 1500 + 50);
        QVERIFY_AT(rig->recorder->timeOf("deviceReenumerationFinished") - opened[0],
                   finishedAfterFirstFound);
        QCOMPARE(rig->recorder->sequence(before),
                 QStringList({"transferSysExReceived", "deviceReenumerationFinished:true"}));
        // Before the switch, and after the last re-creation when it succeeded.
        QCOMPARE(receivedAfter(*rig->instrument, MIDI_SYSEX_TRANSFER_START, start).size(),
                 delivered);
    }

    void missingObjectsNeverCrash()
    {
        const LogWatch log;
        // Every construction fails from now on: the re-creation leaves both objects null and every
        // tick of the pass finds nothing to look with.
        rig->instrument->failNextConstructions(1000000);
        const qint64 start = monotonicMs();
        rig->handler->sendTransferSysEx();
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 1, 9000));
        QCOMPARE(rig->recorder->entries.last().argument.toBool(), false);
        QVERIFY(openedAfter(*rig->instrument, start).isEmpty());

        // Polling resumed; its checks find no objects and cannot be built either: nothing happens.
        QTest::qWait(1000 + lateMs);
        QCOMPARE(rig->recorder->count("deviceFound"), 1);

        // Constructions work again: the next check builds the objects and finds the instrument (in
        // transfer mode, its MIDI ports up); the pass had ended, so it is a fresh connection.
        rig->instrument->failNextConstructions(0);
        QVERIFY(rig->recorder->waitFor("deviceFound", 2, 1000 + lateMs));
        QVERIFY(rig->recorder->waitFor("tovikReceivedVersion", 2, 800 + lateMs));

        // Once more without objects, now in the middle of the switch back: sends are refused with a
        // warning, and the ticks build the objects once they can.
        rig->instrument->failNextConstructions(1000000);
        rig->handler->onEjectCompleted(true);
        rig->handler->fileDownloaded(true);
        QCOMPARE(log.count("MH: No MIDI output"), 1);
        QTest::qWait(1000);
        rig->instrument->failNextConstructions(0);
        QVERIFY(rig->recorder->waitFor("deviceReenumerationFinished", 2, 9000));
        QCOMPARE(rig->recorder->entries.last().argument.toBool(), true);
        QCOMPARE(rig->recorder->count("transferSysExEndReceived"), 1);
        QCOMPARE(receivedAfter(*rig->instrument, MIDI_SYSEX_TRANSFER_END, start).size(), 1);
    }

private:
    std::unique_ptr<SimRig> rig;
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
