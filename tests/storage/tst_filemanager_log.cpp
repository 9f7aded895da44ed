#include "WorkerHarness.h"

#include "diagnostics/Logging.h"
#include "sim/volumes/SimulatedVolumes.h"

#include <QtTest>

// What the update transfer leaves in the run's log file, written by the program's own facility:
// its trace milestones and its warnings, in order, and nothing after a failure.
class TestFileManagerLog : public QObject
{
    Q_OBJECT
private slots:
    void transferLines_data();
    void transferLines();
};

void TestFileManagerLog::transferLines_data()
{
    QTest::addColumn<bool>("renameFails");
    QTest::addColumn<QStringList>("lines"); // after the timestamp, exactly these

    const QStringList copied{QStringLiteral("TRACE FM: copying fw.tvq -> tovikupd"),
                             QStringLiteral("TRACE FM: copy complete")};
    QTest::newRow("success") << false
                             << copied +
                                    QStringList{QStringLiteral("TRACE FM: renamed, dismounting"),
                                                QStringLiteral("TRACE FM: dismounted OK")};
    QTest::newRow("rename fails")
        << true
        << copied + QStringList{QStringLiteral("WARN  FM: Failed to rename file on \"tovikupd\"")};
}

void TestFileManagerLog::transferLines()
{
    QFETCH(bool, renameFails);
    QFETCH(QStringList, lines);

    initLogging(QStringLiteral("test"));
    const QDir logs(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                    QStringLiteral("/Tovik-Instruments/Tovik Updater/logs"));
    const QFileInfoList files =
        logs.entryInfoList({QStringLiteral("updater-*.log")}, QDir::Files, QDir::Time);
    QVERIFY2(!files.isEmpty(), qPrintable(logs.path()));
    QFile log(files.constFirst().absoluteFilePath());
    const qint64 before = log.size();

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path())
                .mkpath(renameFails ? QStringLiteral("vol/tvxxfer.tvq") : QStringLiteral("vol")));
    QFile source(dir.filePath(QStringLiteral("fw.tvq")));
    QVERIFY(source.open(QIODevice::WriteOnly) && source.write(QByteArray(9000, 'q')) == 9000);
    source.close();
    SimulatedVolumes volumes;
    volumes.addVolume(QStringLiteral("tovikupd"), dir.filePath(QStringLiteral("vol")));
    WorkerHarness harness(&volumes, &volumes);
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);
    emit harness.downloadFinished(true, source.fileName(), QStringLiteral("fw.tvq"));
    emit harness.deviceSetToTransferMode();
    QVERIFY(done.wait(10000));
    QCOMPARE(done.constFirst().constFirst().toBool(), !renameFails);

    QVERIFY(log.open(QIODevice::ReadOnly | QIODevice::Text) && log.seek(before));
    // Messages carry a thread field and, in some builds, their source position: both dropped.
    static const QRegularExpression thread(QStringLiteral("^(\\w+ *) \\[[0-9a-f]+\\] "));
    static const QRegularExpression position(QStringLiteral(" \\([^()]+:[0-9]+\\)$"));
    QStringList written;
    for (const QString &line : QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        QVERIFY2(QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                     .isValid(),
                 qPrintable(line));
        written.append(line.mid(24).replace(thread, QStringLiteral("\\1 ")).remove(position));
    }
    QCOMPARE(written, lines);
}

QTEST_MAIN(TestFileManagerLog)
#include "tst_filemanager_log.moc"
