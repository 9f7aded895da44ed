// Detection passes that never find the instrument.
#include "MidiTestSupport.h"

#include <QtTest>

namespace {
constexpr int lateMs = 300;
}

class TestDetection : public QObject
{
    Q_OBJECT
private slots:
    void givesUpAfterHundredTicks_data();
    void givesUpAfterHundredTicks();
};

void TestDetection::givesUpAfterHundredTicks_data()
{
    QTest::addColumn<bool>("neverBack");
    QTest::addColumn<int>("returning");
    QTest::newRow("never comes back") << true << int(SimMidiBus::ReturningPorts::Both);
    QTest::newRow("only its output returns")
        << false << int(SimMidiBus::ReturningPorts::OutputOnly);
    QTest::newRow("only its input returns") << false << int(SimMidiBus::ReturningPorts::InputOnly);
}

void TestDetection::givesUpAfterHundredTicks()
{
    QFETCH(bool, neverBack);
    QFETCH(int, returning);
    SimRig rig;
    rig.instrument->setReenumerationDelay(300);
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 1800 + 2 * lateMs));
    rig.instrument->setNeverComesBack(neverBack);
    rig.instrument->setReturningPorts(static_cast<SimMidiBus::ReturningPorts>(returning));
    const int before = static_cast<int>(rig.recorder->entries.size());

    const qint64 start = monotonicMs();
    rig.handler->sendTransferSysEx();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 1, 7050 + 2000));
    const qint64 gaveUp = rig.recorder->timeOf(QStringLiteral("deviceReenumerationFinished"));
    // 2000 ms, then 101 ticks of 50 ms.
    QVERIFY2(gaveUp - start >= 7050 - 5 && gaveUp - start <= 7050 + 2 * lateMs,
             qPrintable(QStringLiteral("gave up after %1 ms").arg(gaveUp - start)));
    QCOMPARE(rig.recorder->sequence().mid(before),
             QStringList({"deviceReenumerationFinished:false"}));
    // No port was reopened and nothing but the first request went out.
    QCOMPARE(openedAfter(*rig.instrument, start), -1);
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_START, start).size(), 1);

    // Polling resumed with the link marked not connected, so the window is not told of a loss;
    // once the instrument is whole again it is found and asked for its version.
    QTest::qWait(1000 + lateMs);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound")), 1);
    rig.instrument->plugIn();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 2, 1800 + 2 * lateMs));
    QCOMPARE(rig.recorder->sequence().mid(before),
             QStringList({"deviceReenumerationFinished:false", "deviceFound:true",
                          "tovikReceivedVersion:1.5.0"}));
    QCOMPARE(rig.recorder->count(QStringLiteral("transferSysExReceived")), 0);
}

QTEST_GUILESS_MAIN(TestDetection)
#include "tst_detection.moc"
