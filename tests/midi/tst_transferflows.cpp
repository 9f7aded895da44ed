// Transfer mode in and out against the simulated instrument, timed from the entry points.
#include "MidiTestSupport.h"

#include <QtTest>

namespace {
constexpr int lateMs = 300;
constexpr int reenumerationMs = 300;

// Connected rig, version already reported; the instrument re-enumerates quickly.
void connectRig(SimRig &rig)
{
    rig.instrument->setReenumerationDelay(reenumerationMs);
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 1800 + 2 * lateMs));
}

bool within(qint64 actual, qint64 expected)
{
    return actual >= expected - 5 && actual <= expected + lateMs;
}

#define QVERIFY_AT(actual, expected)                                                               \
    QVERIFY2(within((actual), (expected)),                                                         \
             qPrintable(QStringLiteral("at %1 ms, expected %2 ms").arg(actual).arg(expected)))
} // namespace

class TestTransferFlows : public QObject
{
    Q_OBJECT
private slots:
    void transferStart_data();
    void transferStart();
    void transferEnd_data();
    void transferEnd();
    void ejectFailureReleasesAtOnce();
    void loopBackLooksLikeConfirmation();
};

void TestTransferFlows::transferStart_data()
{
    QTest::addColumn<bool>("confirms");
    QTest::addColumn<int>("replyDelay");
    QTest::addColumn<int>("sends");
    QTest::addColumn<int>("finishedAfterFound");
    QTest::addColumn<QStringList>("sequence");
    const QStringList confirmedFirst = {"transferSysExReceived",
                                        "deviceReenumerationFinished:true"};
    // Confirmation 100 ms after the first send: the second send step ends the sequence.
    QTest::newRow("confirmed before the second send") << true << 100 << 1 << 900 << confirmedFirst;
    // 1200 ms after the first send lies after the third: the final wait sees it.
    // The instrument confirms each of the three, all after the third send.
    QTest::newRow("confirmed after the third send")
        << true << 1200 << 3 << 4400
        << QStringList({"transferSysExReceived", "transferSysExReceived", "transferSysExReceived",
                        "deviceReenumerationFinished:true"});
    QTest::newRow("never confirmed") << false << 0 << 3 << 4400 << confirmedFirst;
}

void TestTransferFlows::transferStart()
{
    QFETCH(bool, confirms);
    QFETCH(int, replyDelay);
    QFETCH(int, sends);
    QFETCH(int, finishedAfterFound);
    QFETCH(QStringList, sequence);

    SimRig rig;
    connectRig(rig);
    rig.instrument->setConfirms(confirms);
    rig.instrument->setReplyDelay(replyDelay);
    QSignalSpy volumes(rig.instrument.get(), &SimulatedInstrument::volumePresented);
    const int before = static_cast<int>(rig.recorder->entries.size());

    const qint64 start = monotonicMs();
    rig.handler->sendTransferSysEx();
    // The message goes out on the open ports before anything else happens.
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_START, start).size(), 1);
    QVERIFY(volumes.wait(reenumerationMs + lateMs));
    QCOMPARE(volumes.first().first().toString(), QStringLiteral("TOVIK"));

    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 1, 9000));
    const qint64 found = openedAfter(*rig.instrument, start);
    QVERIFY_AT(found - start, 2000 + 50);

    const QList<qint64> resent = receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_START, found);
    QCOMPARE(resent.size(), sends);
    for (int i = 0; i < resent.size(); ++i)
        QVERIFY_AT(resent[i] - found, 400 + 500 * i);
    const qint64 finished = rig.recorder->timeOf(QStringLiteral("deviceReenumerationFinished"));
    QVERIFY_AT(finished - found, finishedAfterFound);
    QCOMPARE(rig.recorder->sequence().mid(before), sequence);

    // Polling is back, the reopening never told the window about a connection, and nothing more
    // is released later (the acknowledgement timeout was stopped).
    QTest::qWait(1000 + lateMs);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound")), 1);
    QCOMPARE(rig.recorder->count(QStringLiteral("transferSysExReceived")),
             sequence.count(QStringLiteral("transferSysExReceived")));
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_VERSION_REQUEST, start).size(), 0);
    rig.instrument->unplug();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 2, 1000 + lateMs));
}

void TestTransferFlows::transferEnd_data()
{
    QTest::addColumn<bool>("confirms");
    QTest::addColumn<int>("sends");
    QTest::addColumn<int>("finishedAfterFound");
    QTest::newRow("confirmed") << true << 1 << 900;
    QTest::newRow("never confirmed") << false << 3 << 4400;
}

void TestTransferFlows::transferEnd()
{
    QFETCH(bool, confirms);
    QFETCH(int, sends);
    QFETCH(int, finishedAfterFound);

    SimRig rig;
    connectRig(rig);
    rig.handler->sendTransferSysEx();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 1, 9000));
    QCOMPARE(rig.instrument->mode(), SimulatedInstrument::Mode::Transfer);
    rig.instrument->setConfirms(confirms);
    const int before = static_cast<int>(rig.recorder->entries.size());

    // The volume was dismounted; the storage side reports the eject.
    const qint64 start = monotonicMs();
    rig.instrument->onVolumeDismounted(QStringLiteral("TOVIK"));
    rig.handler->onEjectCompleted(true);
    // Nothing goes out until the instrument is back.
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_END, start).size(), 0);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 2, 9000));
    QCOMPARE(rig.instrument->mode(), SimulatedInstrument::Mode::Midi);
    const qint64 found = openedAfter(*rig.instrument, start);
    QVERIFY_AT(found - start, 2000 + 50);
    const QList<qint64> sent = receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_END, start);
    QCOMPARE(sent.size(), sends);
    for (int i = 0; i < sent.size(); ++i)
        QVERIFY_AT(sent[i] - found, 400 + 500 * i);
    QVERIFY_AT(rig.recorder->timeOf(QStringLiteral("deviceReenumerationFinished"), 1) - found,
               finishedAfterFound);
    QCOMPARE(rig.recorder->sequence().mid(before),
             QStringList({"transferSysExEndReceived", "deviceReenumerationFinished:true"}));
}

void TestTransferFlows::ejectFailureReleasesAtOnce()
{
    SimRig rig;
    connectRig(rig);
    WarningCapture warnings;
    const qint64 start = monotonicMs();
    rig.instrument->bus()->clearEvents();
    rig.handler->onEjectCompleted(false);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("transferSysExEndReceived"), 1, 100));
    QCOMPARE(warnings.countContaining(
                 QStringLiteral("MH: Eject reported failure; releasing the UI anyway")),
             1);
    // The ports are untouched and polling goes on: a loss is still noticed.
    QTest::qWait(500);
    QVERIFY(rig.instrument->bus()->events().empty());
    rig.instrument->unplug();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 2, 1000 + lateMs));
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceReenumerationFinished")), 0);
    QVERIFY(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_END, start).isEmpty());
}

void TestTransferFlows::loopBackLooksLikeConfirmation()
{
    // A cable from the host's output to its input echoes the request, which is byte-identical to
    // the confirmation: the sequence ends as if the instrument had confirmed.
    SimRig rig;
    connectRig(rig);
    rig.instrument->setConfirms(false);
    const qint64 start = monotonicMs();
    rig.handler->sendTransferSysEx();
    // From now on: the request sent before the switch would echo too, racing the port closing.
    rig.instrument->setLoopback(true);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 1, 9000));
    const qint64 found = openedAfter(*rig.instrument, start);
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_START, found).size(), 1);
    QVERIFY_AT(rig.recorder->timeOf(QStringLiteral("deviceReenumerationFinished")) - found, 900);
    QCOMPARE(rig.recorder->count(QStringLiteral("transferSysExReceived")), 1);
}

QTEST_GUILESS_MAIN(TestTransferFlows)
#include "tst_transferflows.moc"
