// Driver errors while a pending message is delivered, and MIDI objects that cannot be rebuilt.
#include "MidiTestSupport.h"

#include <QtTest>

namespace {
constexpr int lateMs = 300;
}

class TestSendErrors : public QObject
{
    Q_OBJECT
private slots:
    void fiveSendErrorsEndAtTheTimeout();
    void oneSendErrorRecreatesAndRedetects();
    void missingObjectsNeverCrash();
};

void TestSendErrors::fiveSendErrorsEndAtTheTimeout()
{
    SimRig rig;
    rig.instrument->setReenumerationDelay(300);
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 1800 + 2 * lateMs));
    WarningCapture warnings;
    const int before = static_cast<int>(rig.recorder->entries.size());

    const qint64 start = monotonicMs();
    rig.handler->sendTransferSysEx();
    rig.instrument->failNextSends(5);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 1, 20000));
    const qint64 firstFound = openedAfter(*rig.instrument, start);
    QVERIFY(firstFound > 0);
    // Four re-creations, each followed by a fresh detection and reopening; the fifth error
    // schedules nothing and the timeout armed at the first send releases the window.
    QCOMPARE(openedAfter(*rig.instrument, start, 4) > 0, true);
    QCOMPARE(openedAfter(*rig.instrument, start, 5), -1);
    QCOMPARE(warnings.countContaining(QStringLiteral("MH: RtMidi error (type 8 ): ")), 5);
    const qint64 finished = rig.recorder->timeOf(QStringLiteral("deviceReenumerationFinished"));
    const qint64 expected = firstFound + 400 + 15000;
    QVERIFY2(finished >= expected - 5 && finished <= expected + lateMs,
             qPrintable(QStringLiteral("%1 ms off").arg(finished - expected)));
    QCOMPARE(rig.recorder->sequence().mid(before),
             QStringList({"transferSysExReceived", "deviceReenumerationFinished:true"}));
    // Only the first request, before the switch, reached the instrument.
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_START, start).size(), 1);
}

void TestSendErrors::oneSendErrorRecreatesAndRedetects()
{
    SimRig rig;
    rig.instrument->setReenumerationDelay(300);
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 1800 + 2 * lateMs));

    const qint64 start = monotonicMs();
    rig.handler->sendTransferSysEx();
    rig.instrument->failNextSends(1);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 1, 9000));
    const qint64 firstFound = openedAfter(*rig.instrument, start);
    const qint64 secondFound = openedAfter(*rig.instrument, start, 1);
    QVERIFY(secondFound > 0);
    // Failed at first found + 400; detection restarts 1500 ms later and finds it at once.
    const qint64 gap = secondFound - firstFound;
    QVERIFY2(gap >= 400 + 1500 + 50 - 5 && gap <= 400 + 1500 + 50 + lateMs,
             qPrintable(QStringLiteral("reopened after %1 ms").arg(gap)));
    const QList<qint64> sent =
        receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_START, firstFound);
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0] - secondFound >= 400 - 5 && sent[0] - secondFound <= 400 + lateMs);
    QCOMPARE(rig.recorder->count(QStringLiteral("transferSysExReceived")), 1);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound")), 1);
}

void TestSendErrors::missingObjectsNeverCrash()
{
    SimRig rig;
    rig.instrument->setReenumerationDelay(300);
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 1800 + 2 * lateMs));
    WarningCapture warnings;

    // Every construction fails from now on: the re-creation leaves both objects null and every
    // tick of the pass finds nothing to look with.
    rig.instrument->failNextConstructions(1000000);
    const qint64 start = monotonicMs();
    rig.handler->sendTransferSysEx();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 1, 9000));
    QCOMPARE(rig.recorder->entries.last().argument.toBool(), false);
    QCOMPARE(openedAfter(*rig.instrument, start), -1);

    // Polling resumed; its checks find no objects and cannot be built either: nothing happens.
    QTest::qWait(1000 + lateMs);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound")), 1);

    // Constructions work again: the next check builds the objects and finds the instrument (in
    // transfer mode, its MIDI ports up); the pass had ended, so it is a fresh connection.
    rig.instrument->failNextConstructions(0);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 2, 1000 + lateMs));
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 2, 800 + lateMs));

    // Once more without objects, now in the middle of the switch back: sends are refused with a
    // warning, and the ticks build the objects once they can.
    rig.instrument->failNextConstructions(1000000);
    rig.handler->onEjectCompleted(true);
    rig.handler->fileDownloaded(true);
    QCOMPARE(warnings.countContaining(QStringLiteral("MH: No MIDI output")), 1);
    QTest::qWait(1000);
    rig.instrument->failNextConstructions(0);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 2, 9000));
    QCOMPARE(rig.recorder->entries.last().argument.toBool(), true);
    QCOMPARE(rig.recorder->count(QStringLiteral("transferSysExEndReceived")), 1);
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_TRANSFER_END, start).size(), 1);
}

QTEST_GUILESS_MAIN(TestSendErrors)
#include "tst_senderrors.moc"
