#include "LogCapture.h"
#include "WorkerHarness.h"

#include "diagnostics/Logging.h"
#include "sim/volumes/SimulatedVolumes.h"

#include <QtTest>

// The update volume shows up late or never: the FileManager looks every three seconds, on the
// real clock, five waits at most.
class TestFileManagerWait : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void volumeAppearsAfterTenSeconds();
    void givesUpAfterFiveWaits();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString source;
};

void TestFileManagerWait::init()
{
    dir = std::make_unique<QTemporaryDir>();
    for (const char *name : {"vol", "ro", "notready", "caps", "good"})
        QVERIFY(QDir(dir->path()).mkdir(QString::fromLatin1(name)));
    QFile file(dir->filePath(QStringLiteral("fw.tvq")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(10000, 'x')) == 10000);
    source = file.fileName();
}

void TestFileManagerWait::volumeAppearsAfterTenSeconds()
{
    initLogging(QStringLiteral("test"));
    const QFileInfoList logFiles =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
             QStringLiteral("/Tovik-Instruments/Tovik Updater/logs"))
            .entryInfoList({QStringLiteral("updater-*.log")}, QDir::Files, QDir::Time);
    QVERIFY(!logFiles.isEmpty());
    QFile log(logFiles.constFirst().filePath());
    QVERIFY(log.open(QIODevice::ReadOnly | QIODevice::Text) && log.seek(log.size()));

    LogCapture messages;
    SimulatedVolumes volumes;
    volumes.setVolumeFolder(QStringLiteral("tovikupd"), dir->filePath(QStringLiteral("vol")));
    WorkerHarness harness(&volumes, &volumes);
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);

    emit harness.downloadFinished(true, source, QStringLiteral("fw.tvq"));
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
    QVERIFY(QFile::exists(dir->filePath(QStringLiteral("vol/tvxxfer.tvq"))));
    QVERIFY(messages.warnings().isEmpty());
    // The milestones in the run's log file, after their timestamps.
    QStringList traces;
    for (const QString &line : QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts))
        traces.append(line.mid(24));
    QCOMPARE(traces, (QStringList{QStringLiteral("TRACE FM: copying fw.tvq -> tovikupd"),
                                  QStringLiteral("TRACE FM: copy complete"),
                                  QStringLiteral("TRACE FM: renamed, dismounting"),
                                  QStringLiteral("TRACE FM: dismounted OK")}));
}

void TestFileManagerWait::givesUpAfterFiveWaits()
{
    LogCapture messages;
    SimulatedVolumes volumes;
    // Volumes that look like the update volume but must never be written to.
    volumes.addVolume(QStringLiteral("tovikupd"), dir->filePath(QStringLiteral("ro")),
                      {/*readOnly*/ true, /*ready*/ true});
    volumes.addVolume(QStringLiteral("tovikupd"), dir->filePath(QStringLiteral("notready")),
                      {/*readOnly*/ false, /*ready*/ false});
    volumes.addVolume(QStringLiteral("TOVIKUPD"), dir->filePath(QStringLiteral("caps")));
    WorkerHarness harness(&volumes, &volumes);
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);
    QSignalSpy percent(&harness, &WorkerHarness::copyProgress);

    emit harness.downloadFinished(true, source, QStringLiteral("fw.tvq"));
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
    QCOMPARE(percent.size(), 0);
    for (const char *name : {"ro", "notready", "caps"})
        QVERIFY(QDir(dir->filePath(QString::fromLatin1(name))).isEmpty());

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
    volumes.addVolume(QStringLiteral("tovikupd"), dir->filePath(QStringLiteral("good")));
    emit harness.deviceSetToTransferMode();
    QVERIFY(done.wait(5000));
    QCOMPARE(done.at(2).constFirst().toBool(), true);
    QVERIFY(QFile::exists(dir->filePath(QStringLiteral("good/tvxxfer.tvq"))));
}

QTEST_MAIN(TestFileManagerWait)
#include "tst_filemanager_wait.moc"
