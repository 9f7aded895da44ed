#include "WorkerHarness.h"

#include "diagnostics/Logging.h"
#include "sim/volumes/SimulatedVolumes.h"

#include <QtTest>

// What the update transfer leaves in the run's log file: its trace milestones and its warnings,
// in order, written by the program's own log facility.
class TestFileManagerLog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void transferLines_data();
    void transferLines();

private:
    QString logPath;
};

void TestFileManagerLog::initTestCase()
{
    initLogging(QStringLiteral("test"));
    const QDir logs(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                    QStringLiteral("/Tovik-Instruments/Tovik Updater/logs"));
    const QFileInfoList files =
        logs.entryInfoList({QStringLiteral("updater-*.log")}, QDir::Files, QDir::Time);
    QVERIFY2(!files.isEmpty(), qPrintable(logs.path()));
    logPath = files.constFirst().absoluteFilePath();
}

void TestFileManagerLog::transferLines_data()
{
    QTest::addColumn<QString>("fault");
    // After the timestamp: "TRACE text" or "WARN  ... text"; exactly these lines, in this order.
    QTest::addColumn<QStringList>("lines");

    const QString copying = QStringLiteral("TRACE FM: copying fw.tvq -> tovikupd");
    const QString copied = QStringLiteral("TRACE FM: copy complete");
    const QString renamed = QStringLiteral("TRACE FM: renamed, dismounting");
    QTest::newRow("success") << QString()
                             << QStringList{copying, copied, renamed,
                                            QStringLiteral("TRACE FM: dismounted OK")};
    QTest::newRow("copy fails")
        << QStringLiteral("capacity")
        << QStringList{copying,
                       QStringLiteral("WARN  FM: Failed to copy update file to \"tovikupd\"")};
    QTest::newRow("rename fails")
        << QStringLiteral("target")
        << QStringList{copying, copied,
                       QStringLiteral("WARN  FM: Failed to rename file on \"tovikupd\"")};
    QTest::newRow("dismount fails")
        << QStringLiteral("busy")
        << QStringList{copying, copied, renamed,
                       QStringLiteral("WARN  FM: Failed to eject device \"tovikupd\"")};
}

// The line without its timestamp and, for messages, without the thread field and the source
// position (present only in builds that keep it).
static QString withoutTimestamp(const QString &line)
{
    QString rest = line.mid(24);
    static const QRegularExpression thread(QStringLiteral("^(\\w+ *) \\[[0-9a-f]+\\] "));
    static const QRegularExpression source(QStringLiteral(" \\([^()]+:[0-9]+\\)$"));
    return rest.replace(thread, QStringLiteral("\\1 ")).remove(source);
}

void TestFileManagerLog::transferLines()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, lines);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("vol")));
    QFile source(dir.filePath(QStringLiteral("fw.tvq")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(QByteArray(9000, 'q'));
    source.close();

    SimulatedVolumes volumes;
    volumes.addVolume(QStringLiteral("tovikupd"), dir.filePath(QStringLiteral("vol")));
    if (fault == QLatin1String("capacity"))
        volumes.setCapacity(QStringLiteral("tovikupd"), 100);
    else if (fault == QLatin1String("busy"))
        volumes.setDismountError(QStringLiteral("tovikupd"), QStringLiteral("busy"));
    else if (fault == QLatin1String("target"))
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("vol/tvxxfer.tvq")));

    const qint64 before = QFileInfo(logPath).size();
    WorkerHarness harness(&volumes, &volumes);
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);
    emit harness.downloadFinished(true, source.fileName(), QStringLiteral("fw.tvq"));
    emit harness.deviceSetToTransferMode();
    QVERIFY(done.wait(10000));
    QCOMPARE(done.constFirst().constFirst().toBool(), fault.isEmpty());

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly | QIODevice::Text));
    QVERIFY(log.seek(before));
    QStringList written;
    const QStringList raw =
        QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : raw) {
        QVERIFY2(QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                     .isValid(),
                 qPrintable(line));
        written.append(withoutTimestamp(line));
    }
    QCOMPARE(written, lines);
}

QTEST_MAIN(TestFileManagerLog)
#include "tst_filemanager_log.moc"
