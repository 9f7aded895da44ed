#include "LogCapture.h"
#include "WorkerHarness.h"

#include "sim/volumes/SimulatedVolumes.h"

#include <QtTest>

// The update volume shows up only after the instrument has re-enumerated: the FileManager keeps
// looking every three seconds, on the real clock.
class TestFileManagerWaitLate : public QObject
{
    Q_OBJECT
private slots:
    void volumeAppearsAfterTenSeconds();
};

void TestFileManagerWaitLate::volumeAppearsAfterTenSeconds()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("vol")));
    QFile source(dir.filePath(QStringLiteral("fw.tvq")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(QByteArray(10000, 'x'));
    source.close();

    LogCapture messages;
    SimulatedVolumes volumes;
    volumes.setVolumeFolder(QStringLiteral("tovikupd"), dir.filePath(QStringLiteral("vol")));
    WorkerHarness harness(&volumes, &volumes);
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);

    emit harness.downloadFinished(true, source.fileName(), QStringLiteral("fw.tvq"));
    QElapsedTimer clock;
    clock.start();
    emit harness.deviceSetToTransferMode();

    int looksBeforeMount = -1;
    QTimer::singleShot(10000, &volumes, [&] {
        looksBeforeMount = volumes.lookupCount();
        volumes.present(QStringLiteral("tovikupd"));
    });

    QVERIFY(done.wait(20000));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(done.constFirst().constFirst().toBool(), true);
    // Looks at 0, 3, 6 and 9 s missed it; the fifth, at about 12 s, found it.
    QCOMPARE(looksBeforeMount, 4);
    QVERIFY2(elapsed >= 11000 && elapsed < 15000, qPrintable(QString::number(elapsed)));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("vol/tvxxfer.tvq"))));
    QVERIFY(messages.warnings().isEmpty());

    // The counter went back to zero when the volume was found: the next update waits the full
    // five times again, so a volume that comes a few seconds later is still caught.
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("vol/tvxxfer.tvq"))));
    volumes.resetCounters();
    clock.restart();
    emit harness.deviceSetToTransferMode();
    QTimer::singleShot(4000, &volumes, [&] { volumes.present(QStringLiteral("tovikupd")); });
    QVERIFY(done.wait(15000));
    QCOMPARE(done.size(), 2);
    QCOMPARE(done.at(1).constFirst().toBool(), true);
    QVERIFY2(clock.elapsed() >= 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("vol/tvxxfer.tvq"))));
}

QTEST_MAIN(TestFileManagerWaitLate)
#include "tst_filemanager_wait_late.moc"
