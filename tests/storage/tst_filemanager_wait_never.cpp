#include "LogCapture.h"
#include "WorkerHarness.h"

#include "sim/volumes/SimulatedVolumes.h"

#include <QtTest>

// The update volume never qualifies: the FileManager gives up after five waits of three seconds,
// silently, and does not wait again in the same run.
class TestFileManagerWaitNever : public QObject
{
    Q_OBJECT
private slots:
    void givesUpAfterFiveWaits();
};

void TestFileManagerWaitNever::givesUpAfterFiveWaits()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"ro", "notready", "caps", "good"})
        QVERIFY(QDir(dir.path()).mkdir(QString::fromLatin1(name)));
    QFile source(dir.filePath(QStringLiteral("fw.tvq")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(QByteArray(5000, 'y'));
    source.close();

    LogCapture messages;
    SimulatedVolumes volumes;
    // Volumes that look like the update volume but must never be written to.
    SimulatedVolumes::Flags readOnly;
    readOnly.readOnly = true;
    SimulatedVolumes::Flags notReady;
    notReady.ready = false;
    volumes.addVolume(QStringLiteral("tovikupd"), dir.filePath(QStringLiteral("ro")), readOnly);
    volumes.addVolume(QStringLiteral("tovikupd"), dir.filePath(QStringLiteral("notready")),
                      notReady);
    volumes.addVolume(QStringLiteral("TOVIKUPD"), dir.filePath(QStringLiteral("caps")));
    WorkerHarness harness(&volumes, &volumes);
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);
    QSignalSpy percent(&harness, &WorkerHarness::copyProgress);

    emit harness.downloadFinished(true, source.fileName(), QStringLiteral("fw.tvq"));
    QElapsedTimer clock;
    clock.start();
    emit harness.deviceSetToTransferMode();
    QVERIFY(done.wait(25000));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(done.constFirst().constFirst().toBool(), false);
    // One look at once and one after each of the five waits.
    QCOMPARE(volumes.lookupCount(), 6);
    QVERIFY2(elapsed >= 14000 && elapsed < 19000, qPrintable(QString::number(elapsed)));
    QVERIFY(!done.wait(500));
    QCOMPARE(done.size(), 1);
    QVERIFY(messages.warnings().isEmpty());
    QCOMPARE(percent.size(), 0);
    for (const char *name : {"ro", "notready", "caps"})
        QVERIFY(QDir(dir.filePath(QString::fromLatin1(name))).isEmpty());

    // The counter stays where the give-up left it: a second start looks once and reports at once.
    volumes.resetCounters();
    clock.restart();
    emit harness.deviceSetToTransferMode();
    QVERIFY(done.wait(5000));
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(done.at(1).constFirst().toBool(), false);
    QCOMPARE(volumes.lookupCount(), 1);
    QVERIFY(messages.warnings().isEmpty());

    // Once the volume is there it is used straight away, whatever the counter said.
    volumes.addVolume(QStringLiteral("tovikupd"), dir.filePath(QStringLiteral("good")));
    emit harness.deviceSetToTransferMode();
    QVERIFY(done.wait(5000));
    QCOMPARE(done.at(2).constFirst().toBool(), true);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("good/tvxxfer.tvq"))));
}

QTEST_MAIN(TestFileManagerWaitNever)
#include "tst_filemanager_wait_never.moc"
