#include "LogCapture.h"
#include "WorkerHarness.h"

#include "storage/StorageLogic.h"
#include "storage/StorageVolumeList.h"

#include <QtTest>

// The FileManager with its real seams (QStorageInfo, the udev label links, umount2) against
// ext4 images mounted by the real kernel. Run through real-mounts.sh, which gives the test a
// private mount namespace and /dev; elsewhere it skips.
class TestRealMounts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void discovery();
    void update_data();
    void update();

private:
    QString mountVolume(const char *loopVariable, const QString &label);

    QStringList mounted;
    QTemporaryDir sources;
};

void TestRealMounts::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TOVIK_MOUNT_ROOT"))
        QSKIP(qPrintable(
            QStringLiteral("real mounts not possible here: ") +
            qEnvironmentVariable("TOVIK_REAL_MOUNTS_SKIP", "not run by real-mounts.sh")));
}

void TestRealMounts::cleanup()
{
    // The images outlive the test functions: leave them empty and unmounted.
    for (const QString &path : std::as_const(mounted)) {
        QDir(path).removeRecursively();
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-q"), path});
    }
    mounted.clear();
    QDir(QStringLiteral("/dev/disk/by-label")).removeRecursively();
    QDir().mkpath(QStringLiteral("/dev/disk/by-label"));
}

static bool isMountPoint(const QString &path)
{
    return QStorageInfo(path).rootPath() == path;
}

// Mounts a loop device and publishes its label as udev would. Empty on failure.
QString TestRealMounts::mountVolume(const char *loopVariable, const QString &label)
{
    const QString device = qEnvironmentVariable(loopVariable);
    const QString dir =
        qEnvironmentVariable("TOVIK_MOUNT_ROOT") + QLatin1Char('/') + QLatin1String(loopVariable);
    QDir().mkpath(dir);
    if (QProcess::execute(QStringLiteral("mount"), {device, dir}) != 0)
        return {};
    mounted.append(dir);
    const QString link =
        QStringLiteral("/dev/disk/by-label/") + QFile::decodeName(encodeUdevLabel(label.toUtf8()));
    QFile::link(QStringLiteral("../../") + QFileInfo(device).fileName(), link); // or already there
    return dir;
}

void TestRealMounts::discovery()
{
    const QString upd = mountVolume("TOVIK_LOOP_UPD", QStringLiteral("tovikupd"));
    const QString tovik = mountVolume("TOVIK_LOOP_TOVIK", QStringLiteral("TOVIK"));
    const QString space = mountVolume("TOVIK_LOOP_SPACE", QStringLiteral("tovik upd"));
    QVERIFY(!upd.isEmpty() && !tovik.isEmpty() && !space.isEmpty());
    QVERIFY(QFile::link(QStringLiteral("/dev/no-such-device"),
                        QStringLiteral("/dev/disk/by-label/GONE")));

    // The list itself: labels from the links, the root path for everything else.
    QHash<QString, QString> names;
    for (const VolumeEntry &v : StorageVolumeList().mountedVolumes())
        names.insert(v.rootPath, v.displayName);
    QCOMPARE(names.value(upd), QStringLiteral("tovikupd"));
    QCOMPARE(names.value(tovik), QStringLiteral("TOVIK"));
    QCOMPARE(names.value(space), QStringLiteral("tovik upd"));
    QCOMPARE(names.value(QStringLiteral("/")), QStringLiteral("/"));

    // Neither the escaped link name nor another letter case names a volume; requests are served
    // in order, so a wrong match would come first.
    WorkerHarness harness;
    QSignalSpy opened(&harness, &WorkerHarness::opened);
    for (const char *asked : {"tovik\\x20upd", "tovik", "TOVIK", "tovik upd"})
        emit harness.requestOpenFolder(QString::fromUtf8(asked), QStringLiteral("projects"));
    QTRY_COMPARE(opened.size(), 2);
    QCOMPARE(opened.at(0).at(0).toUrl(), QUrl::fromLocalFile(tovik + QStringLiteral("/projects")));
    QCOMPARE(opened.at(1).at(0).toUrl(), QUrl::fromLocalFile(space + QStringLiteral("/projects")));

    // A read-only transfer volume is not the instrument's.
    const auto remount = [&](const char *how) {
        return QProcess::execute(QStringLiteral("mount"),
                                 {QStringLiteral("-o"), QString::fromLatin1(how), tovik});
    };
    QCOMPARE(remount("remount,ro"), 0);
    emit harness.requestOpenFolder(QStringLiteral("TOVIK"), QStringLiteral("projects"));
    QVERIFY(!opened.wait(1000));

    // A file held open keeps the volume busy: the eject fails, and works once it is closed.
    QCOMPARE(remount("remount,rw"), 0);
    QFile held(tovik + QStringLiteral("/held.txt"));
    QVERIFY(held.open(QIODevice::WriteOnly));
    LogCapture messages;
    QSignalSpy ejected(&harness, &WorkerHarness::ejectCompleted);
    emit harness.requestEjectDevice(QStringLiteral("TOVIK"));
    QVERIFY(ejected.wait(30000));
    QCOMPARE(ejected.constFirst().constFirst().toBool(), false);
    QVERIFY2(isMountPoint(tovik) && messages.warnings().join(u'\n').contains(u"busy"),
             qPrintable(messages.warnings().join(u'\n')));
    held.close();
    emit harness.requestEjectDevice(QStringLiteral("TOVIK"));
    QVERIFY(ejected.wait(30000));
    QCOMPARE(ejected.at(1).constFirst().toBool(), true);
    QVERIFY(!isMountPoint(tovik));
}

// What the instrument finds on its storage when it is unplugged now: a copy of the device as it
// is, with its journal replayed as the next mount would.
static QByteArray fileOnDevice(const char *loopVariable, const QString &name, QTemporaryDir &work)
{
    const QString image = work.filePath(QStringLiteral("device.img"));
    const QString out = work.filePath(QStringLiteral("found"));
    QFile::remove(image);
    QFile::remove(out);
    if (!QFile::copy(qEnvironmentVariable(QByteArray(loopVariable) + "_IMAGE"), image) ||
        QProcess::execute(QStringLiteral("e2fsck"), {"-fy", "-E", "journal_only", image}) > 1 ||
        QProcess::execute(QStringLiteral("debugfs"), {"-R", "dump /" + name + ' ' + out, image}))
        return "<no device copy>";
    QFile found(out);
    return found.open(QIODevice::ReadOnly) ? found.readAll() : QByteArray("<not on the device>");
}

void TestRealMounts::update_data()
{
    QTest::addColumn<QByteArray>("loop");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("warning"); // empty: success
    QTest::addColumn<bool>("held");       // a file on the volume is held open: no dismount

    QTest::newRow("copied, renamed and dismounted")
        << QByteArray("TOVIK_LOOP_UPD") << qint64(1000000) << QString() << false;
    QTest::newRow("file system fills up")
        << QByteArray("TOVIK_LOOP_TINY") << qint64(4 * 1024 * 1024)
        << QStringLiteral("FM: Failed to copy update file to \"tovikupd\"") << false;
    // The user may unplug the instrument now: the update must already be whole on its storage.
    QTest::newRow("dismount refused, the file is on the device")
        << QByteArray("TOVIK_LOOP_UPD") << qint64(3000000)
        << QStringLiteral("FM: Failed to eject device \"tovikupd\"") << true;
}

void TestRealMounts::update()
{
    QFETCH(QByteArray, loop);
    QFETCH(qint64, size);
    QFETCH(QString, warning);
    QFETCH(bool, held);

    const QString volume = mountVolume(loop.constData(), QStringLiteral("tovikupd"));
    QVERIFY(!volume.isEmpty());
    QFile source(sources.filePath(QStringLiteral("update.tvq")));
    QVERIFY(source.open(QIODevice::ReadWrite));
    for (qint64 i = 0; i < size; i += 4)
        source.write(reinterpret_cast<const char *>(&i), 4);
    QVERIFY(source.flush());
    QFile holder(volume + QStringLiteral("/held.txt"));
    QVERIFY(!held || holder.open(QIODevice::WriteOnly));

    LogCapture messages;
    WorkerHarness harness;
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);
    emit harness.downloadFinished(true, source.fileName(), QStringLiteral("update.tvq"));
    emit harness.deviceSetToTransferMode();
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 30000);
    QCOMPARE(done.constFirst().constFirst().toBool(), warning.isEmpty());
    QVERIFY2(warning.isEmpty() ? messages.warnings().isEmpty()
                               : messages.warnings().constLast() == warning,
             qPrintable(messages.warnings().join(u'\n')));
    QCOMPARE(isMountPoint(volume), !warning.isEmpty());
    QVERIFY(source.seek(0));
    const QByteArray bytes = source.readAll();
    if (held)
        QCOMPARE(fileOnDevice(loop.constData(), QStringLiteral("tvxxfer.tvq"), sources), bytes);
    // After a success, mount it again and look at what the instrument will find; after a write
    // error, the partial copy stays and nothing is renamed.
    if (warning.isEmpty())
        QVERIFY(!mountVolume(loop.constData(), QStringLiteral("tovikupd")).isEmpty());
    const bool renamed = warning.isEmpty() || held;
    QFile target(volume +
                 (renamed ? QStringLiteral("/tvxxfer.tvq") : QStringLiteral("/update.tvq")));
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll() == bytes, renamed);
    QCOMPARE(QDir(volume).exists(QStringLiteral("tvxxfer.tvq")), renamed);
}

QTEST_MAIN(TestRealMounts)
#include "tst_real_mounts.moc"
