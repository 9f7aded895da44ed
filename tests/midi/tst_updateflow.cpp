// The firmware update seen from the MIDI link, with the test standing in for the storage side.
#include "MidiTestSupport.h"

#include "diagnostics/Logging.h"

#include <QtTest>

namespace {
constexpr int lateMs = 300;
}

class TestUpdateFlow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void failedDownloadAndCopySendNothing();
    void fullUpdate();
};

void TestUpdateFlow::initTestCase()
{
    initLogging(QStringLiteral("test"));
}

void TestUpdateFlow::failedDownloadAndCopySendNothing()
{
    SimRig rig;
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 1800 + 2 * lateMs));
    const qint64 start = monotonicMs();
    const int tracesBefore = static_cast<int>(
        logFileText().count(QStringLiteral("TRACE transferComplete(success=false)")));

    rig.handler->fileDownloaded(false);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceSetToTransferMode")), 0);
    QTest::qWait(200);
    QVERIFY(rig.instrument->received().size() == 1); // the version request only

    // Download fine, copy failed: the update-mode message went out, nothing follows it.
    rig.handler->fileDownloaded(true);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceSetToTransferMode")), 1);
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_UPDATE_MODE, start).size(), 1);
    rig.handler->transferComplete(false);
    QCOMPARE(static_cast<int>(
                 logFileText().count(QStringLiteral("TRACE transferComplete(success=false)"))) -
                 tracesBefore,
             1);
    QCOMPARE(rig.recorder->count(QStringLiteral("updateTransferDone")), 0);

    // Polling stays stopped: the instrument's departure is never reported.
    QTest::qWait(2000 + lateMs);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound")), 1);
    QCOMPARE(rig.instrument->received().size(), 2);
}

void TestUpdateFlow::fullUpdate()
{
    SimRig rig;
    rig.instrument->setReenumerationDelay(300);
    rig.instrument->setRebootDelay(1000);
    rig.instrument->setApplyDelay(2000);
    rig.instrument->setApplyDuration(5000);
    rig.instrument->setUpdateVersion(QStringLiteral("1.6.0"));
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 1800 + 2 * lateMs));

    // The storage side: copy onto the update volume, dismount it, report success.
    qint64 copied = 0;
    QObject::connect(rig.instrument.get(), &SimulatedInstrument::volumePresented, rig.handler.get(),
                     [&](const QString &label) {
                         QCOMPARE(label, QStringLiteral("tovikupd"));
                         rig.instrument->onVolumeDismounted(label);
                         copied = monotonicMs();
                         rig.handler->transferComplete(true);
                     });
    const qint64 start = monotonicMs();
    rig.handler->fileDownloaded(true);
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_UPDATE_MODE, start).size(), 1);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceReenumerationFinished"), 1, 12000));
    QVERIFY(copied > 0);

    const qint64 found = openedAfter(*rig.instrument, copied);
    QVERIFY2(found - copied >= 750 + 2000 + 50 - 5 && found - copied <= 750 + 2000 + 50 + lateMs,
             qPrintable(QStringLiteral("found %1 ms after the copy").arg(found - copied)));
    const QList<qint64> finishes = receivedAfter(*rig.instrument, MIDI_SYSEX_UPDATE_FINISH, start);
    QCOMPARE(finishes.size(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY(finishes[i] - found >= 400 + 500 * i - 5 &&
                finishes[i] - found <= 400 + 500 * i + lateMs);
    const qint64 finished = rig.recorder->timeOf(QStringLiteral("deviceReenumerationFinished"));
    QVERIFY(finished - found >= 4400 - 5 && finished - found <= 4400 + lateMs);

    // The instrument reboots to apply the update; polling sees it go and come back, and asks.
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 2, 10000));
    QCOMPARE(
        rig.recorder->sequence(),
        QStringList({"deviceFound:true", "tovikReceivedVersion:1.5.0", "deviceSetToTransferMode",
                     "updateTransferDone", "deviceReenumerationFinished:true", "deviceFound:false",
                     "deviceFound:true", "tovikReceivedVersion:1.6.0"}));
}

QTEST_GUILESS_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
