#include "WorkerHarness.h"

#include "diagnostics/Logging.h"
#include "storage/UdevLabel.h"
#include "tests/support/Files.h"

#include <QtTest>

// The FileManager with its real seams (QStorageInfo, the udev label links, umount2, the flush
// to the device) against an ext4 image mounted by the real kernel. Run through real-mounts.sh,
// which gives the test a private mount namespace and /dev; elsewhere it skips.
class TestRealMounts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void update_data();
    void update();

private:
    QTemporaryDir work;
};

void TestRealMounts::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TOVIK_MOUNT_ROOT"))
        QSKIP(qPrintable(
            "real mounts not possible here: " +
            qEnvironmentVariable("TOVIK_REAL_MOUNTS_SKIP", "not run by real-mounts.sh")));
    initLogging(QStringLiteral("test"));
}

// Mounts the update volume and publishes its label as udev would. Empty on failure.
static QString mountUpdateVolume()
{
    const QString device = qEnvironmentVariable("TOVIK_LOOP_UPD");
    const QString dir = qEnvironmentVariable("TOVIK_MOUNT_ROOT") + "/upd";
    QDir().mkpath(dir);
    QFile::link("../../" + QFileInfo(device).fileName(),
                "/dev/disk/by-label/" + QFile::decodeName(encodeUdevLabel("tovikupd")));
    return QProcess::execute("mount", {device, dir}) == 0 ? dir : QString();
}

// What the instrument finds on its storage when it is unplugged now: a copy of the device as it
// is, with its journal replayed as the next mount would.
static QByteArray fileOnDevice(const QString &name, QTemporaryDir &work)
{
    const QString image = work.filePath("device.img");
    const QString out = work.filePath("found");
    QFile::remove(image);
    if (!QFile::copy(qEnvironmentVariable("TOVIK_LOOP_UPD_IMAGE"), image) ||
        QProcess::execute("e2fsck", {"-fy", "-E", "journal_only", image}) > 1 ||
        QProcess::execute("debugfs", {"-R", "dump /" + name + ' ' + out, image}))
        return "<no device copy>";
    QFile found(out);
    return found.open(QIODevice::ReadOnly) ? found.readAll() : "<not on the device>";
}

void TestRealMounts::update_data()
{
    QTest::addColumn<bool>("held"); // a file on the volume is held open: no dismount
    QTest::newRow("copied, renamed and dismounted") << false;
    // The user may unplug the instrument now: the update must already be whole on its storage.
    QTest::newRow("dismount refused, the file is on the device") << true;
}

void TestRealMounts::update()
{
    QFETCH(bool, held);
    const QString volume = mountUpdateVolume();
    QVERIFY(!volume.isEmpty());
    const auto unmount = qScopeGuard([&] {
        QDir(volume).removeRecursively();
        QProcess::execute("umount", {"-q", volume});
    });
    const QByteArray bytes = firmwareBytes(3000000, 7);
    const QString source = work.filePath("update.tvq");
    QVERIFY(writeFile(source, bytes));
    QFile holder(volume + "/held.txt");
    QVERIFY(!held || holder.open(QIODevice::WriteOnly));

    const LogWatch log;
    WorkerHarness harness;
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);
    emit harness.downloadFinished(true, source, "update.tvq");
    emit harness.deviceSetToTransferMode();
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 30000);
    QCOMPARE(done.constFirst().constFirst().toBool(), !held);
    // A busy volume is reported by the unmount itself first.
    const QStringList warnings = log.messages().filter("WARN ");
    QCOMPARE(warnings.value(warnings.size() - 1),
             held ? "WARN FM: Failed to eject device \"tovikupd\"" : "");
    QCOMPARE(QStorageInfo(volume).rootPath() == volume, held);
    if (held)
        QCOMPARE(fileOnDevice("tvxxfer.tvq", work), bytes);
    // After a success, mount it again and look at what the instrument will find.
    QVERIFY(held || !mountUpdateVolume().isEmpty());
    QFile target(volume + "/tvxxfer.tvq");
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll(), bytes);
}

QTEST_MAIN(TestRealMounts)
#include "tst_real_mounts.moc"
