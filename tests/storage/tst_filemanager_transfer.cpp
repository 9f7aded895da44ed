#include "LogCapture.h"
#include "WorkerHarness.h"

#include "sim/volumes/SimulatedVolumes.h"

#include <QtTest>

// The update transfer, folder opening and eject of a FileManager on its own worker thread,
// against folders that play the instrument's volumes.
class TestFileManagerTransfer : public QObject
{
    Q_OBJECT
private slots:
    void transfer_data();
    void transfer();
    void lookupAndEject_data();
    void lookupAndEject();
};

struct Fixture
{
    QString volumeFolder(const QString &name)
    {
        QDir(dir.path()).mkpath(name);
        return dir.filePath(name);
    }
    QTemporaryDir dir;
    SimulatedVolumes volumes;
    LogCapture messages;
    WorkerHarness harness{&volumes, &volumes};
};

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

enum class Fault {
    None,
    EarlierTarget, // a "tvxxfer.tvq" from before is on the volume
    Vanishes,      // the volume goes away after 8192 bytes
    FullAt9000,    // the volume is full after 9000 bytes: the last write is short
    SourceMissing,
    SourceOnVolume, // the volume folder is the download folder: source and copy are one file
    DeviceFull,     // the kernel refuses the data only when the buffered tail reaches it
    DismountRefused,
    SourceShrinks, // to 5000 bytes, after the first chunk
    SourceGrows,   // by 4000 bytes, after the first chunk
    FlushFails,    // the data never reaches the device
    NamedTarget,   // the download itself is called "tvxxfer.tvq"
    NamedTargetOverEarlier,
};
Q_DECLARE_METATYPE(Fault)

void TestFileManagerTransfer::transfer_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<QString>("warning"); // empty: success
    QTest::addColumn<QStringList>("filesAfter");
    QTest::addColumn<qint64>("copiedSize"); // of the copy left on the volume, -1: the whole source

    const QString copyFailed = QStringLiteral("FM: Failed to copy update file to \"tovikupd\"");
    const QString renameFailed = QStringLiteral("FM: Failed to rename file on \"tovikupd\"");
    const QStringList renamed{QStringLiteral("tvxxfer.tvq")};
    const QStringList unrenamed{QStringLiteral("update.tvq")};
    const QList<int> all{40, 81, 100};
    const qint64 whole = -1;

    QTest::newRow("10000 bytes in three chunks")
        << Fault::None << all << QString() << renamed << whole;
    QTest::newRow("tvxxfer.tvq already there")
        << Fault::EarlierTarget << all << renameFailed << renamed + unrenamed << whole;
    QTest::newRow("volume vanishes mid-copy")
        << Fault::Vanishes << QList<int>{40, 81} << copyFailed << unrenamed << qint64(8192);
    QTest::newRow("volume full in the last chunk")
        << Fault::FullAt9000 << QList<int>{40, 81} << copyFailed << unrenamed << qint64(9000);
    QTest::newRow("source missing")
        << Fault::SourceMissing << QList<int>{} << copyFailed << QStringList() << whole;
    QTest::newRow("source already on the volume")
        << Fault::SourceOnVolume << QList<int>{} << copyFailed << unrenamed << whole;
    QTest::newRow("device full at the final flush")
        << Fault::DeviceFull << all << copyFailed << QStringList() << whole;
    QTest::newRow("dismount refused")
        << Fault::DismountRefused << all
        << QStringLiteral("FM: Failed to eject device \"tovikupd\"") << renamed << whole;
    QTest::newRow("source shrinks meanwhile")
        << Fault::SourceShrinks << QList<int>{40, 50} << copyFailed << unrenamed << qint64(5000);
    QTest::newRow("source grows meanwhile")
        << Fault::SourceGrows << all << copyFailed << unrenamed << qint64(10000);
    QTest::newRow("flush to the device fails")
        << Fault::FlushFails << all << copyFailed << unrenamed << whole;
    QTest::newRow("download named tvxxfer.tvq")
        << Fault::NamedTarget << all << QString() << renamed << whole;
    QTest::newRow("download named tvxxfer.tvq over an earlier one")
        << Fault::NamedTargetOverEarlier << all << renameFailed
        << QStringList{QStringLiteral("tvxxfer.new"), QStringLiteral("tvxxfer.tvq")} << whole;
}

void TestFileManagerTransfer::transfer()
{
    Fixture f;
    QFETCH(Fault, fault);
    QFETCH(QList<int>, progress);
    QFETCH(QString, warning);
    QFETCH(QStringList, filesAfter);
    QFETCH(qint64, copiedSize);

    const bool named = fault == Fault::NamedTarget || fault == Fault::NamedTargetOverEarlier;
    const QString name = named ? QStringLiteral("tvxxfer.tvq") : QStringLiteral("update.tvq");
    const QString volume = f.volumeFolder(QStringLiteral("vol"));
    const QString sourcePath =
        QDir(fault == Fault::SourceOnVolume ? volume : f.dir.path()).filePath(name);
    QByteArray source(10000, Qt::Uninitialized);
    for (int i = 0; i < source.size(); ++i)
        source[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    QFile sourceFile(sourcePath);
    QVERIFY(fault == Fault::SourceMissing ||
            (sourceFile.open(QIODevice::ReadWrite) && sourceFile.write(source) == source.size() &&
             sourceFile.flush()));
    f.volumes.addVolume(QStringLiteral("tovikupd"), volume);

    const bool earlier = fault == Fault::EarlierTarget || fault == Fault::NamedTargetOverEarlier;
    QFile old(QDir(volume).filePath(QStringLiteral("tvxxfer.tvq")));
    QVERIFY(!earlier ||
            (old.open(QIODevice::WriteOnly) && old.write("earlier") == 7 && old.flush()));
    if (fault == Fault::Vanishes)
        f.volumes.setVanishAfterBytes(QStringLiteral("tovikupd"), 8192);
    if (fault == Fault::FullAt9000)
        f.volumes.setCapacity(QStringLiteral("tovikupd"), 9000);
    if (fault == Fault::DeviceFull)
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), QDir(volume).filePath(name)));
    if (fault == Fault::DismountRefused)
        f.volumes.setDismountError(QStringLiteral("tovikupd"), QStringLiteral("busy"));
    f.volumes.setFlushError(QStringLiteral("tovikupd"), fault == Fault::FlushFails);
    // Another program changes the source while the copy runs, right after its first chunk.
    connect(
        f.harness.fileManager, &FileManager::copyProgress, f.harness.fileManager,
        [&, changed = false]() mutable {
            if (!std::exchange(changed, true) && fault == Fault::SourceShrinks)
                QVERIFY(sourceFile.resize(5000));
            else if (changed && fault == Fault::SourceGrows && sourceFile.size() == 10000)
                QVERIFY(sourceFile.write(QByteArray(4000, 'g')) == 4000 && sourceFile.flush());
        },
        Qt::DirectConnection);

    QSignalSpy done(&f.harness, &WorkerHarness::fileTransferComplete);
    QSignalSpy percent(&f.harness, &WorkerHarness::copyProgress);
    QSignalSpy dismounted(&f.volumes, &SimulatedVolumes::volumeDismounted);
    emit f.harness.downloadFinished(true, sourcePath, name);
    // A later failed download never replaces the file of a good one.
    emit f.harness.downloadFinished(false, f.dir.filePath(QStringLiteral("second.tvq")),
                                    QStringLiteral("second.tvq"));
    emit f.harness.deviceSetToTransferMode();

    QVERIFY(done.wait(10000));
    QVERIFY(!done.wait(300)); // exactly one result
    QCOMPARE(done.size(), 1);
    QCOMPARE(done.constFirst().constFirst().toBool(), warning.isEmpty());
    QList<int> seen;
    for (const QList<QVariant> &args : std::as_const(percent))
        seen.append(args.constFirst().toInt());
    QCOMPARE(seen, progress);
    QCOMPARE(f.messages.warnings(), warning.isEmpty() ? QStringList() : QStringList{warning});

    // A failed copy leaves its partial file; a good one is byte for byte the source; an earlier
    // "tvxxfer.tvq" is never touched.
    if (fault != Fault::DeviceFull)
        QCOMPARE(QDir(volume).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name),
                 filesAfter);
    for (const QString &file : filesAfter)
        QCOMPARE(readAll(QDir(volume).filePath(file)),
                 earlier && file == QLatin1String("tvxxfer.tvq")
                     ? QByteArray("earlier")
                     : source.left(copiedSize < 0 ? source.size() : copiedSize));
    // Only a dismount or a vanished volume leaves it unmounted.
    QCOMPARE(f.volumes.isMounted(QStringLiteral("tovikupd")),
             !warning.isEmpty() && fault != Fault::Vanishes);
    QCOMPARE(dismounted.size(), warning.isEmpty() ? 1 : 0);
}

void TestFileManagerTransfer::lookupAndEject_data()
{
    // Each volume: "label|flags" with r = read-only, n = not ready, m = folder missing,
    // b = busy (refuses the dismount); the volumes get the folders v0, v1, ... in order.
    QTest::addColumn<QStringList>("mounted");
    QTest::addColumn<int>("winner"); // index of the volume opened and ejected, -1 for none

    QTest::newRow("first of two of the same name")
        << QStringList{QStringLiteral("TOVIK|"), QStringLiteral("TOVIK|")} << 0;
    QTest::newRow("held open by another program") << QStringList{QStringLiteral("TOVIK|b")} << 0;
    QTest::newRow("read-only, not ready and invalid skipped")
        << QStringList{QStringLiteral("TOVIK|r"), QStringLiteral("TOVIK|n"),
                       QStringLiteral("TOVIK|m"), QStringLiteral("TOVIK|")}
        << 3;
    QTest::newRow("wrong letter case") << QStringList{QStringLiteral("tovik|")} << -1;
    QTest::newRow("other names around")
        << QStringList{QStringLiteral("tovikupd|"), QStringLiteral("|"), QStringLiteral("TOVIK|")}
        << 2;
}

void TestFileManagerTransfer::lookupAndEject()
{
    Fixture f;
    QFETCH(QStringList, mounted);
    QFETCH(int, winner);
    const bool ejected = winner >= 0 && !mounted.at(winner).endsWith(QLatin1Char('b'));

    for (int i = 0; i < mounted.size(); ++i) {
        const QStringList parts = mounted.at(i).split(QLatin1Char('|'));
        const QString flags = parts.at(1);
        const SimulatedVolumes::Flags state{/*readOnly*/ flags.contains(QLatin1Char('r')),
                                            /*ready*/ !flags.contains(QLatin1Char('n'))};
        f.volumes.addVolume(parts.at(0),
                            flags.contains(QLatin1Char('m'))
                                ? f.dir.filePath(QStringLiteral("gone"))
                                : f.volumeFolder(QStringLiteral("v%1").arg(i)),
                            state);
        if (flags.contains(QLatin1Char('b')))
            f.volumes.setDismountError(parts.at(0), QStringLiteral("busy"));
    }

    QSignalSpy opened(&f.harness, &WorkerHarness::opened);
    QSignalSpy ejectedSpy(&f.harness, &WorkerHarness::ejectCompleted);
    QSignalSpy dismounted(&f.volumes, &SimulatedVolumes::volumeDismounted);
    // Served in order: the eject's answer closes the window for the opens.
    for (const QString &folder : {QStringLiteral("projects"), QStringLiteral("MIDI_Clips")})
        emit f.harness.requestOpenFolder(QStringLiteral("TOVIK"), folder);
    emit f.harness.requestEjectDevice(QStringLiteral("TOVIK"));

    QVERIFY(ejectedSpy.wait(5000));
    QCOMPARE(ejectedSpy.size(), 1);
    QCOMPARE(ejectedSpy.constFirst().constFirst().toBool(), ejected);
    QCOMPARE(dismounted.size(), ejected ? 1 : 0);
    if (winner < 0) {
        QVERIFY(!opened.wait(300));
        QCOMPARE(
            f.messages.warnings(),
            QStringList{QStringLiteral("FM: Cannot eject - no mounted volume named \"TOVIK\"")});
        return;
    }
    QTRY_COMPARE(opened.size(), 2);
    const QString root = f.dir.filePath(QStringLiteral("v%1").arg(winner));
    QCOMPARE(opened.at(0).at(0).toUrl(), QUrl::fromLocalFile(root + QStringLiteral("/projects")));
    QCOMPARE(opened.at(1).at(0).toUrl(), QUrl::fromLocalFile(root + QStringLiteral("/MIDI_Clips")));
    QVERIFY2(opened.at(0).at(1).toBool(), "handed to the desktop from the worker thread");
    QCOMPARE(f.volumes.dismountRequests(), QStringList{root});
    QVERIFY(f.messages.warnings().isEmpty());
}

QTEST_MAIN(TestFileManagerTransfer)
#include "tst_filemanager_transfer.moc"
