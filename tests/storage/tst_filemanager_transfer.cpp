#include "LogCapture.h"
#include "UrlRecorder.h"
#include "WorkerHarness.h"

#include "sim/volumes/SimulatedVolumes.h"

#include <QtTest>

// The update transfer, folder opening and eject of a FileManager running on its own worker
// thread against folders that play the instrument's volumes.
class TestFileManagerTransfer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void transfer_data();
    void transfer();
    void lookupAndEject_data();
    void lookupAndEject();
    void folderRequestsServedInOrder();

private:
    QByteArray makeSource(const QString &name, qsizetype size);
    QString volumeFolder(const QString &name);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SimulatedVolumes> volumes;
    std::unique_ptr<LogCapture> messages;
    std::unique_ptr<WorkerHarness> harness;
};

void TestFileManagerTransfer::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    volumes = std::make_unique<SimulatedVolumes>();
    messages = std::make_unique<LogCapture>();
    harness = std::make_unique<WorkerHarness>(volumes.get(), volumes.get());
}

void TestFileManagerTransfer::cleanup()
{
    harness.reset();
    messages.reset();
    volumes.reset();
    dir.reset();
}

QByteArray TestFileManagerTransfer::makeSource(const QString &name, qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    QFile file(dir->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != size)
        qFatal("cannot write the source file");
    return data;
}

QString TestFileManagerTransfer::volumeFolder(const QString &name)
{
    QDir(dir->path()).mkpath(name);
    return dir->filePath(name);
}

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

static QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

void TestFileManagerTransfer::transfer_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<QStringList>("warnings");
    // name on the volume -> expected size (-1: the whole source)
    QTest::addColumn<QStringList>("filesAfter");
    QTest::addColumn<qint64>("updateFileSizeAfter");
    QTest::addColumn<bool>("mountedAfter");

    const QString copyFailed = QStringLiteral("FM: Failed to copy update file to \"tovikupd\"");
    const QString renameFailed = QStringLiteral("FM: Failed to rename file on \"tovikupd\"");
    const QString ejectFailed = QStringLiteral("FM: Failed to eject device \"tovikupd\"");
    const QStringList renamed{QStringLiteral("tvxxfer.tvq")};
    const QStringList unrenamed{QStringLiteral("update.tvq")};

    QTest::newRow("10000 bytes in three chunks")
        << 10000 << QString() << true << QList<int>{40, 81, 100} << QStringList() << renamed
        << qint64(-1) << false;
    // A later failed download does not replace the file of the good one.
    QTest::newRow("failed download after a good one")
        << 10000 << QStringLiteral("failed-second") << true << QList<int>{40, 81, 100}
        << QStringList() << renamed << qint64(-1) << false;
    QTest::newRow("exactly one chunk") << 4096 << QString() << true << QList<int>{100}
                                       << QStringList() << renamed << qint64(-1) << false;
    QTest::newRow("empty file, no progress") << 0 << QString() << true << QList<int>{}
                                             << QStringList() << renamed << qint64(-1) << false;
    QTest::newRow("tvxxfer.tvq already there")
        << 10000 << QStringLiteral("existing-target") << false << QList<int>{40, 81, 100}
        << QStringList{renameFailed}
        << QStringList{QStringLiteral("tvxxfer.tvq"), QStringLiteral("update.tvq")} << qint64(-1)
        << true;
    QTest::newRow("volume vanishes mid-copy")
        << 10000 << QStringLiteral("vanish-8192") << false << QList<int>{40, 81}
        << QStringList{copyFailed} << unrenamed << qint64(8192) << false;
    QTest::newRow("volume fills up")
        << 10000 << QStringLiteral("capacity-6000") << false << QList<int>{40}
        << QStringList{copyFailed} << unrenamed << qint64(4096) << true;
    QTest::newRow("source missing")
        << -1 << QString() << false << QList<int>{} << QStringList{copyFailed} << QStringList()
        << qint64(0) << true;
    QTest::newRow("source is a folder")
        << -1 << QStringLiteral("source-folder") << false << QList<int>{} << QStringList{copyFailed}
        << QStringList() << qint64(0) << true;
    QTest::newRow("source already on the volume")
        << 10000 << QStringLiteral("source-on-volume") << false << QList<int>{}
        << QStringList{copyFailed} << unrenamed << qint64(-1) << true;
    QTest::newRow("no download yet")
        << -1 << QStringLiteral("no-download") << false << QList<int>{} << QStringList{copyFailed}
        << QStringList() << qint64(0) << true;
    // The kernel refuses the data only when the buffered tail reaches it at close.
    QTest::newRow("device full at the final flush")
        << 10000 << QStringLiteral("dev-full") << false << QList<int>{40, 81, 100}
        << QStringList{copyFailed} << unrenamed << qint64(0) << true;
    QTest::newRow("dismount refused")
        << 10000 << QStringLiteral("busy") << false << QList<int>{40, 81, 100}
        << QStringList{ejectFailed} << renamed << qint64(-1) << true;
}

void TestFileManagerTransfer::transfer()
{
    QFETCH(int, size);
    QFETCH(QString, fault);
    QFETCH(bool, success);
    QFETCH(QList<int>, progress);
    QFETCH(QStringList, warnings);
    QFETCH(QStringList, filesAfter);
    QFETCH(qint64, updateFileSizeAfter);
    QFETCH(bool, mountedAfter);

    const QString name = QStringLiteral("update.tvq");
    const QByteArray source = size >= 0 ? makeSource(name, size) : QByteArray();
    if (fault == QLatin1String("source-folder"))
        QVERIFY(QDir(dir->path()).mkdir(name));
    const QString volume = volumeFolder(QStringLiteral("vol"));
    volumes->addVolume(QStringLiteral("tovikupd"), volume);

    const QByteArray earlier("an earlier update");
    if (fault == QLatin1String("existing-target")) {
        QFile old(QDir(volume).filePath(QStringLiteral("tvxxfer.tvq")));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(earlier);
    } else if (fault.startsWith(QLatin1String("vanish-"))) {
        volumes->setVanishAfterBytes(QStringLiteral("tovikupd"), fault.mid(7).toLongLong());
    } else if (fault.startsWith(QLatin1String("capacity-"))) {
        volumes->setCapacity(QStringLiteral("tovikupd"), fault.mid(9).toLongLong());
    } else if (fault == QLatin1String("dev-full")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), QDir(volume).filePath(name)));
    } else if (fault == QLatin1String("busy")) {
        volumes->setDismountError(QStringLiteral("tovikupd"), QStringLiteral("busy"));
    }

    QSignalSpy done(harness.get(), &WorkerHarness::fileTransferComplete);
    QSignalSpy percent(harness.get(), &WorkerHarness::copyProgress);
    QSignalSpy dismounted(volumes.get(), &SimulatedVolumes::volumeDismounted);
    // The volume folder is the download folder: source and destination are one file.
    const QString sourcePath = fault == QLatin1String("source-on-volume")
                                   ? QDir(volume).filePath(name)
                                   : dir->filePath(name);
    if (fault == QLatin1String("source-on-volume"))
        QVERIFY(QFile::rename(dir->filePath(name), sourcePath));
    if (fault != QLatin1String("no-download"))
        emit harness->downloadFinished(true, sourcePath, name);
    if (fault == QLatin1String("failed-second")) {
        makeSource(QStringLiteral("second.tvq"), 7000);
        emit harness->downloadFinished(false, dir->filePath(QStringLiteral("second.tvq")),
                                       QStringLiteral("second.tvq"));
    }
    emit harness->deviceSetToTransferMode();

    QVERIFY(done.wait(10000));
    QCOMPARE(done.constFirst().constFirst().toBool(), success);
    QVERIFY(!done.wait(300)); // exactly one result
    QCOMPARE(done.size(), 1);

    QList<int> seen;
    for (const QList<QVariant> &args : std::as_const(percent))
        seen.append(args.constFirst().toInt());
    QCOMPARE(seen, progress);
    QCOMPARE(messages->warnings(), warnings);

    if (fault == QLatin1String("dev-full")) {
        QVERIFY(QFileInfo(QDir(volume).filePath(name)).isSymLink());
    } else {
        QCOMPARE(filesIn(volume), filesAfter);
        if (!filesAfter.isEmpty()) {
            const QString copied = QDir(volume).filePath(
                filesAfter.contains(name) ? name : QStringLiteral("tvxxfer.tvq"));
            // A failed copy leaves its partial file; a good one is byte for byte the source.
            QCOMPARE(readAll(copied),
                     updateFileSizeAfter < 0 ? source : source.left(updateFileSizeAfter));
        }
    }
    if (fault == QLatin1String("existing-target"))
        QCOMPARE(readAll(QDir(volume).filePath(QStringLiteral("tvxxfer.tvq"))), earlier);
    QCOMPARE(volumes->isMounted(QStringLiteral("tovikupd")), mountedAfter);
    QCOMPARE(dismounted.size(), success ? 1 : 0);
}

void TestFileManagerTransfer::lookupAndEject_data()
{
    // Each volume: "label|flags" with r = read-only, n = not ready, m = folder missing,
    // b = busy (refuses the dismount); the volumes get the folders v0, v1, ... in order.
    QTest::addColumn<QStringList>("mounted");
    QTest::addColumn<int>("winner"); // index of the volume opened and ejected, -1 for none
    QTest::addColumn<bool>("ejected");

    QTest::newRow("only volume") << QStringList{QStringLiteral("TOVIK|")} << 0 << true;
    QTest::newRow("first of two of the same name")
        << QStringList{QStringLiteral("TOVIK|"), QStringLiteral("TOVIK|")} << 0 << true;
    QTest::newRow("held open by another program")
        << QStringList{QStringLiteral("TOVIK|b")} << 0 << false;
    QTest::newRow("read-only never found") << QStringList{QStringLiteral("TOVIK|r")} << -1 << false;
    QTest::newRow("read-only skipped for the next")
        << QStringList{QStringLiteral("TOVIK|r"), QStringLiteral("TOVIK|")} << 1 << true;
    QTest::newRow("not ready skipped")
        << QStringList{QStringLiteral("TOVIK|n"), QStringLiteral("TOVIK|")} << 1 << true;
    QTest::newRow("invalid skipped")
        << QStringList{QStringLiteral("TOVIK|m"), QStringLiteral("TOVIK|")} << 1 << true;
    QTest::newRow("wrong letter case") << QStringList{QStringLiteral("tovik|")} << -1 << false;
    QTest::newRow("trailing blank") << QStringList{QStringLiteral("TOVIK |")} << -1 << false;
    QTest::newRow("unlabelled shows its root path")
        << QStringList{QStringLiteral("|")} << -1 << false;
    QTest::newRow("only the update volume")
        << QStringList{QStringLiteral("tovikupd|")} << -1 << false;
    QTest::newRow("other names around")
        << QStringList{QStringLiteral("tovikupd|"), QStringLiteral("DATA|"),
                       QStringLiteral("TOVIK|")}
        << 2 << true;
}

void TestFileManagerTransfer::lookupAndEject()
{
    QFETCH(QStringList, mounted);
    QFETCH(int, winner);
    QFETCH(bool, ejected);

    for (int i = 0; i < mounted.size(); ++i) {
        const QStringList parts = mounted.at(i).split(QLatin1Char('|'));
        const QString flags = parts.at(1);
        const QString folder = flags.contains(QLatin1Char('m'))
                                   ? dir->filePath(QStringLiteral("gone%1").arg(i))
                                   : volumeFolder(QStringLiteral("v%1").arg(i));
        SimulatedVolumes::Flags f;
        f.readOnly = flags.contains(QLatin1Char('r'));
        f.ready = !flags.contains(QLatin1Char('n'));
        volumes->addVolume(parts.at(0), folder, f);
        if (flags.contains(QLatin1Char('b')))
            volumes->setDismountError(parts.at(0), QStringLiteral("busy"));
    }

    UrlRecorder browser;
    QSignalSpy opened(&browser, &UrlRecorder::opened);
    QSignalSpy ejectedSpy(harness.get(), &WorkerHarness::ejectCompleted);
    QSignalSpy dismounted(volumes.get(), &SimulatedVolumes::volumeDismounted);
    emit harness->requestOpenFolder(QStringLiteral("TOVIK"), QStringLiteral("projects"));
    // The eject is served after the open, so its answer closes the window for the open.
    emit harness->requestEjectDevice(QStringLiteral("TOVIK"));

    QVERIFY(ejectedSpy.wait(5000));
    QCOMPARE(ejectedSpy.size(), 1);
    QCOMPARE(ejectedSpy.constFirst().constFirst().toBool(), ejected);
    QCOMPARE(dismounted.size(), ejected ? 1 : 0);
    if (winner < 0) {
        QVERIFY(!opened.wait(300));
        QCOMPARE(
            messages->warnings(),
            QStringList{QStringLiteral("FM: Cannot eject - no mounted volume named \"TOVIK\"")});
        return;
    }
    if (opened.isEmpty())
        QVERIFY(opened.wait(5000));
    const QString expected = dir->filePath(QStringLiteral("v%1/projects").arg(winner));
    QCOMPARE(opened.constFirst().constFirst().toUrl(), QUrl::fromLocalFile(expected));
    QCOMPARE(volumes->dismountRequests(),
             QStringList{dir->filePath(QStringLiteral("v%1").arg(winner))});
    QVERIFY(messages->warnings().isEmpty());
    if (ejected)
        QCOMPARE(dismounted.constFirst().constFirst().toString(), QStringLiteral("TOVIK"));
}

void TestFileManagerTransfer::folderRequestsServedInOrder()
{
    const QString root = volumeFolder(QStringLiteral("transfer"));
    volumes->addVolume(QStringLiteral("TOVIK"), root);
    UrlRecorder browser;
    QSignalSpy opened(&browser, &UrlRecorder::opened);

    const QStringList folders{QStringLiteral("projects"), QStringLiteral("instrument_definitions"),
                              QStringLiteral("MIDI_Clips"), QStringLiteral("grooves")};
    for (int round = 0; round < 5; ++round) {
        for (const QString &folder : folders)
            emit harness->requestOpenFolder(QStringLiteral("TOVIK"), folder);
    }
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 20, 10000);
    for (int i = 0; i < opened.size(); ++i) {
        QCOMPARE(opened.at(i).at(0).toUrl(),
                 QUrl::fromLocalFile(QDir(root).filePath(folders.at(i % 4))));
        QVERIFY2(opened.at(i).at(1).toBool(), "handed to the desktop from the worker thread");
    }
}

QTEST_MAIN(TestFileManagerTransfer)
#include "tst_filemanager_transfer.moc"
