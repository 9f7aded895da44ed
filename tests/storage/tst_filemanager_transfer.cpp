#include "WorkerHarness.h"

#include "diagnostics/Logging.h"
#include "sim/volumes/SimulatedVolumes.h"
#include "tests/support/Files.h"
#include "tests/support/SignalRecorder.h"
#include "tests/support/VolumeFaults.h"

#include <QtTest>

// The volumes with the tests' own faults and counters at hand.
struct FaultyVolumes : SimulatedVolumes, VolumeFaults
{
    FaultyVolumes()
        : VolumeFaults(static_cast<SimulatedVolumes &>(*this))
    {
    }
};

// The update transfer, folder opening and eject of a FileManager on its own worker thread,
// against folders that play the instrument's volumes.
struct Fixture
{
    QString volumeFolder(const QString &name)
    {
        QDir(dir.path()).mkpath(name);
        return dir.filePath(name);
    }
    QTemporaryDir dir;
    FaultyVolumes volumes;
    LogWatch messages;
    WorkerHarness harness{&volumes, &volumes};
};

enum class Fault {
    None,
    EmptySource,
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

class TestFileManagerTransfer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initLogging(QStringLiteral("test")); }
    void transfer_data();
    void transfer();
    void lookupAndEject();
    void waitsForTheUpdateVolume();
};

void TestFileManagerTransfer::transfer_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QList<qint64>>("progress");
    QTest::addColumn<QString>("warning"); // empty: success
    QTest::addColumn<QStringList>("filesAfter");
    QTest::addColumn<qint64>("copiedSize"); // of the copy left on the volume, -1: the whole source

    const QString copyFailed = "FM: Failed to copy update file to \"tovikupd\"";
    const QString renameFailed = "FM: Failed to rename file on \"tovikupd\"";
    const QStringList renamed{"tvxxfer.tvq"};
    const QStringList unrenamed{"update.tvq"};
    const QList<qint64> all{40, 81, 100};

    const auto row = [](const char *tag, Fault fault, const QList<qint64> &progress,
                        const QString &warning, const QStringList &files, qint64 copied = -1) {
        QTest::newRow(tag) << fault << progress << warning << files << copied;
    };
    row("10000 bytes in three chunks", Fault::None, all, "", renamed);
    row("empty file, no progress", Fault::EmptySource, {}, "", renamed);
    row("tvxxfer.tvq already there", Fault::EarlierTarget, all, renameFailed, renamed + unrenamed);
    row("volume vanishes mid-copy", Fault::Vanishes, {40, 81}, copyFailed, unrenamed, 8192);
    row("volume full in the last chunk", Fault::FullAt9000, {40, 81}, copyFailed, unrenamed, 9000);
    row("source missing", Fault::SourceMissing, {}, copyFailed, {});
    row("source already on the volume", Fault::SourceOnVolume, {}, copyFailed, unrenamed);
    row("device full at the final flush", Fault::DeviceFull, all, copyFailed, {});
    row("dismount refused", Fault::DismountRefused, all, "FM: Failed to eject device \"tovikupd\"",
        renamed);
    row("source shrinks meanwhile", Fault::SourceShrinks, {40, 50}, copyFailed, unrenamed, 5000);
    row("source grows meanwhile", Fault::SourceGrows, all, copyFailed, unrenamed, 10000);
    row("flush to the device fails", Fault::FlushFails, all, copyFailed, unrenamed);
    row("download named tvxxfer.tvq", Fault::NamedTarget, all, "", renamed);
    row("download named tvxxfer.tvq over an earlier one", Fault::NamedTargetOverEarlier, all,
        renameFailed, {"tvxxfer.new", "tvxxfer.tvq"});
}

void TestFileManagerTransfer::transfer()
{
    Fixture f;
    QFETCH(Fault, fault);
    QFETCH(QList<qint64>, progress);
    QFETCH(QString, warning);
    QFETCH(QStringList, filesAfter);
    QFETCH(qint64, copiedSize);

    const bool named = fault == Fault::NamedTarget || fault == Fault::NamedTargetOverEarlier;
    const QString name = named ? "tvxxfer.tvq" : "update.tvq";
    const QString volume = f.volumeFolder("vol");
    const QString sourcePath =
        (fault == Fault::SourceOnVolume ? volume : f.dir.path()) + '/' + name;
    const QByteArray source = firmwareBytes(fault == Fault::EmptySource ? 0 : 10000, 131);
    QFile sourceFile(sourcePath);
    QVERIFY(fault == Fault::SourceMissing ||
            (sourceFile.open(QIODevice::ReadWrite) && sourceFile.write(source) == source.size() &&
             sourceFile.flush()));
    f.volumes.addVolume("tovikupd", volume);

    const bool earlier = fault == Fault::EarlierTarget || fault == Fault::NamedTargetOverEarlier;
    QVERIFY(!earlier || writeFile(QDir(volume).filePath("tvxxfer.tvq"), "earlier"));
    if (fault == Fault::Vanishes)
        f.volumes.setVanishAfterBytes("tovikupd", 8192);
    if (fault == Fault::FullAt9000)
        f.volumes.setCapacity("tovikupd", 9000);
    if (fault == Fault::DeviceFull)
        QVERIFY(QFile::link("/dev/full", QDir(volume).filePath(name)));
    if (fault == Fault::DismountRefused)
        f.volumes.setDismountError("tovikupd", "busy");
    f.volumes.setFlushError("tovikupd", fault == Fault::FlushFails);
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
    SignalRecorder percent;
    percent.listen(&f.harness, &WorkerHarness::copyProgress, "progress");
    emit f.harness.downloadFinished(true, sourcePath, name);
    // A later failed download never replaces the file of a good one.
    emit f.harness.downloadFinished(false, f.dir.filePath("second.tvq"), "second.tvq");
    emit f.harness.deviceSetToTransferMode();

    QVERIFY(done.wait(10000) && !done.wait(300)); // exactly one result
    QCOMPARE(done.constFirst().constFirst().toBool(), warning.isEmpty());
    QCOMPARE(percent.numbers(), progress);
    QCOMPARE(f.messages.messages().filter("WARN "),
             warning.isEmpty() ? QStringList() : QStringList{"WARN " + warning});

    // A failed copy leaves its partial file; a good one is byte for byte the source; an earlier
    // "tvxxfer.tvq" is never touched.
    if (fault != Fault::DeviceFull)
        QCOMPARE(QDir(volume).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name),
                 filesAfter);
    for (const QString &file : filesAfter)
        QCOMPARE(fileBytes(QDir(volume).filePath(file)),
                 earlier && file == QLatin1String("tvxxfer.tvq")
                     ? QByteArray("earlier")
                     : source.left(copiedSize < 0 ? source.size() : copiedSize));
    // Only a dismount or a vanished volume leaves it unmounted.
    QCOMPARE(f.volumes.isMounted("tovikupd"), !warning.isEmpty() && fault != Fault::Vanishes);
    QCOMPARE(f.volumes.dismountRequests().size(),
             warning.isEmpty() || fault == Fault::DismountRefused ? 1 : 0);
}

// The transfer volume: the first of two of its name is opened (from the worker thread) and
// ejected; a volume that only looks like it is never used; once it is gone, the eject says so.
void TestFileManagerTransfer::lookupAndEject()
{
    Fixture f;
    f.volumes.addVolume("tovik", f.volumeFolder("case"));
    f.volumes.addVolume("TOVIK", f.dir.filePath("gone")); // listed, but its folder is missing
    f.volumes.addVolume("TOVIK", f.volumeFolder("first"));
    f.volumes.addVolume("TOVIK", f.volumeFolder("second"));
    QSignalSpy ejected(&f.harness, &WorkerHarness::ejectCompleted);
    // Served in order: the eject's answer closes the window for the opens.
    for (const char *folder : {"projects", "MIDI_Clips"})
        emit f.harness.requestOpenFolder("TOVIK", folder);
    emit f.harness.requestEjectDevice("TOVIK");
    QVERIFY(ejected.wait(5000));
    const QList<FileBrowserDouble::Request> opened = f.harness.browser.requests();
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened[0].first, QUrl::fromLocalFile(f.dir.filePath("first/projects")));
    QCOMPARE(opened[1].first, QUrl::fromLocalFile(f.dir.filePath("first/MIDI_Clips")));
    QCOMPARE(opened[0].second, &f.harness.thread); // handed to the desktop from the worker
    QCOMPARE(f.volumes.dismountRequests(), QStringList{f.dir.filePath("first")});
    QVERIFY(f.messages.messages().filter("WARN ").isEmpty());

    f.volumes.removeVolume("TOVIK");
    f.volumes.removeVolume("TOVIK");
    emit f.harness.requestOpenFolder("TOVIK", "projects");
    emit f.harness.requestEjectDevice("TOVIK");
    QVERIFY(ejected.wait(5000));
    QCOMPARE(ejected.at(0).constFirst().toBool(), true);
    QCOMPARE(ejected.at(1).constFirst().toBool(), true);
    QCOMPARE(f.messages.messages().filter("FM: "),
             {"INFO FM: Already released - no mounted volume named \"TOVIK\""});
    QCOMPARE(f.harness.browser.requests().size(), 2);
}

// The update volume shows up late or never: the FileManager looks every three seconds, on the
// real clock, five waits at most, and never writes to volumes that only look like it.
void TestFileManagerTransfer::waitsForTheUpdateVolume()
{
    Fixture f;
    const QString source = f.dir.filePath("fw.tvq");
    QVERIFY(writeFile(source, QByteArray(10000, 'x')));
    const QStringList decoys{"ro", "notready", "caps"};
    f.volumes.addVolume("tovikupd", f.volumeFolder(decoys[0]), {true, true});
    f.volumes.addVolume("tovikupd", f.volumeFolder(decoys[1]), {false, false});
    f.volumes.addVolume("TOVIKUPD", f.volumeFolder(decoys[2]));
    f.volumes.setVolumeFolder("tovikupd", f.volumeFolder("vol"));
    SignalRecorder done;
    done.listen(&f.harness, &WorkerHarness::fileTransferComplete, "done");
    emit f.harness.downloadFinished(true, source, "fw.tvq");

    // Looks at 0, 3, 6 and 9 s miss it; the fifth, at 12 s, finds it (Qt's coarse timers may
    // fire 5 % early, a loaded machine adds a little).
    QElapsedTimer clock;
    const auto tookMs = [&](qint64 from, qint64 to) {
        const qint64 ms = clock.restart();
        return ms >= from && ms < to;
    };
    clock.start();
    emit f.harness.deviceSetToTransferMode();
    int looksBeforeMount = -1;
    QTimer::singleShot(10000, &f.volumes, [&] {
        looksBeforeMount = f.volumes.lookupCount();
        f.volumes.present("tovikupd");
    });
    QVERIFY(done.waitFor("done", 1, 20000) && tookMs(11400, 13500));
    QCOMPARE(looksBeforeMount, 4);
    // The milestones, each a trace line after its timestamp.
    QCOMPARE(
        f.messages.lines().filter(" TRACE ").replaceInStrings(QRegularExpression("^.* TRACE "), ""),
        (QStringList{"FM: copying fw.tvq -> tovikupd", "FM: copy complete",
                     "FM: renamed, dismounting", "FM: dismounted OK"}));

    // Never there: one look at once and one after each of five waits, then false, silently.
    f.volumes.resetCounters();
    clock.restart();
    emit f.harness.deviceSetToTransferMode();
    QVERIFY(done.waitFor("done", 2, 25000) && tookMs(14250, 16500));
    QCOMPARE(f.volumes.lookupCount(), 6);
    // The counter stays where the give-up left it: the next start looks once and reports at
    // once.
    emit f.harness.deviceSetToTransferMode();
    QVERIFY(done.waitFor("done", 3, 2500));
    QCOMPARE(f.volumes.lookupCount(), 7);
    // Once the volume is there it is used straight away, whatever the counter said.
    QVERIFY(QFile::remove(f.dir.filePath("vol/tvxxfer.tvq")));
    f.volumes.present("tovikupd");
    emit f.harness.deviceSetToTransferMode();
    QVERIFY(done.waitFor("done", 4, 5000));
    QCOMPARE(done.events, (QStringList{"done true", "done false", "done false", "done true"}));
    QVERIFY(f.messages.messages().filter("WARN ").isEmpty());
    for (const QString &decoy : decoys)
        QVERIFY(QDir(f.dir.filePath(decoy)).isEmpty());
}

QTEST_MAIN(TestFileManagerTransfer)
#include "tst_filemanager_transfer.moc"
