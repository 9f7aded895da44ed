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

void TestFileManagerTransfer::transfer_data()
{
    QTest::addColumn<int>("size"); // of the source, -1: none
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<QString>("warning"); // empty: success
    QTest::addColumn<QStringList>("filesAfter");
    QTest::addColumn<qint64>("copiedSize"); // of the file left on the volume, -1: the whole source

    const QString copyFailed = QStringLiteral("FM: Failed to copy update file to \"tovikupd\"");
    const QStringList renamed{QStringLiteral("tvxxfer.tvq")};
    const QStringList unrenamed{QStringLiteral("update.tvq")};
    const QList<int> all{40, 81, 100};

    QTest::newRow("10000 bytes in three chunks")
        << 10000 << QString() << all << QString() << renamed << qint64(-1);
    QTest::newRow("empty file, no progress")
        << 0 << QString() << QList<int>{} << QString() << renamed << qint64(-1);
    QTest::newRow("tvxxfer.tvq already there")
        << 10000 << QStringLiteral("existing-target") << all
        << QStringLiteral("FM: Failed to rename file on \"tovikupd\"")
        << QStringList{QStringLiteral("tvxxfer.tvq"), QStringLiteral("update.tvq")} << qint64(-1);
    QTest::newRow("volume vanishes mid-copy")
        << 10000 << QStringLiteral("vanish-8192") << QList<int>{40, 81} << copyFailed << unrenamed
        << qint64(8192);
    QTest::newRow("volume fills up") << 10000 << QStringLiteral("capacity-6000") << QList<int>{40}
                                     << copyFailed << unrenamed << qint64(4096);
    QTest::newRow("source missing")
        << -1 << QString() << QList<int>{} << copyFailed << QStringList() << qint64(0);
    QTest::newRow("source already on the volume")
        << 10000 << QStringLiteral("source-on-volume") << QList<int>{} << copyFailed << unrenamed
        << qint64(-1);
    // The kernel refuses the data only when the buffered tail reaches it at close.
    QTest::newRow("device full at the final flush")
        << 10000 << QStringLiteral("dev-full") << all << copyFailed << QStringList() << qint64(0);
    QTest::newRow("dismount refused")
        << 10000 << QStringLiteral("busy") << all
        << QStringLiteral("FM: Failed to eject device \"tovikupd\"") << renamed << qint64(-1);
}

void TestFileManagerTransfer::transfer()
{
    Fixture f;
    QFETCH(int, size);
    QFETCH(QString, fault);
    QFETCH(QList<int>, progress);
    QFETCH(QString, warning);
    QFETCH(QStringList, filesAfter);
    QFETCH(qint64, copiedSize);

    const QString name = QStringLiteral("update.tvq");
    const QString volume = f.volumeFolder(QStringLiteral("vol"));
    // The volume folder is the download folder: source and destination are one file.
    const QString sourcePath =
        QDir(fault == QLatin1String("source-on-volume") ? volume : f.dir.path()).filePath(name);
    QByteArray source(qMax(size, 0), Qt::Uninitialized);
    for (int i = 0; i < source.size(); ++i)
        source[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    QFile sourceFile(sourcePath);
    QVERIFY(size < 0 || (sourceFile.open(QIODevice::WriteOnly) &&
                         sourceFile.write(source) == size && sourceFile.flush()));
    f.volumes.addVolume(QStringLiteral("tovikupd"), volume);

    const QString target = QDir(volume).filePath(QStringLiteral("tvxxfer.tvq"));
    if (fault == QLatin1String("existing-target")) {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("earlier") == 7);
    } else if (fault.startsWith(QLatin1String("vanish-"))) {
        f.volumes.setVanishAfterBytes(QStringLiteral("tovikupd"), fault.mid(7).toLongLong());
    } else if (fault.startsWith(QLatin1String("capacity-"))) {
        f.volumes.setCapacity(QStringLiteral("tovikupd"), fault.mid(9).toLongLong());
    } else if (fault == QLatin1String("dev-full")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), QDir(volume).filePath(name)));
    } else if (fault == QLatin1String("busy")) {
        f.volumes.setDismountError(QStringLiteral("tovikupd"), QStringLiteral("busy"));
    }

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

    // A failed copy leaves its partial file; a good one is byte for byte the source.
    if (fault != QLatin1String("dev-full")) {
        QCOMPARE(QDir(volume).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name),
                 filesAfter);
        if (!filesAfter.isEmpty())
            QCOMPARE(readAll(QDir(volume).filePath(filesAfter.constLast())),
                     copiedSize < 0 ? source : source.left(copiedSize));
    }
    if (fault == QLatin1String("existing-target"))
        QCOMPARE(readAll(target), QByteArray("earlier"));
    // Only a dismount or a vanished volume leaves it unmounted.
    QCOMPARE(f.volumes.isMounted(QStringLiteral("tovikupd")),
             !warning.isEmpty() && !fault.startsWith(QLatin1String("vanish")));
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
