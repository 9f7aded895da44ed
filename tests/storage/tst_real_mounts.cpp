#include "LogCapture.h"
#include "UrlRecorder.h"
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
    void discovery_data();
    void discovery();
    void update_data();
    void update();
    void ejectWhileFileOpen();

private:
    QString mountVolume(const char *loopVariable, const QString &label, const QString &dirName,
                        const QStringList &options = {});
    static bool isMountPoint(const QString &path);
    QString makeSource(qint64 size);

    QStringList mounted;
    QTemporaryDir sources;
};

void TestRealMounts::initTestCase()
{
    const QString reason = qEnvironmentVariable("TOVIK_REAL_MOUNTS_SKIP");
    if (!reason.isEmpty())
        QSKIP(qPrintable(QStringLiteral("real mounts not possible here: ") + reason));
    if (qEnvironmentVariableIsEmpty("TOVIK_MOUNT_ROOT"))
        QSKIP("run through tests/storage/real-mounts.sh");
    QVERIFY(sources.isValid());
}

void TestRealMounts::cleanup()
{
    // The images outlive the test functions: leave them empty and unmounted.
    for (const QString &path : std::as_const(mounted)) {
        if (!isMountPoint(path))
            continue;
        for (const QFileInfo &file : QDir(path).entryInfoList(QDir::Files | QDir::Hidden))
            QFile::remove(file.filePath());
        QProcess::execute(QStringLiteral("umount"), {path});
    }
    mounted.clear();
    const QDir links(QStringLiteral("/dev/disk/by-label"));
    for (const QString &link : links.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        QFile::remove(links.filePath(link));
}

bool TestRealMounts::isMountPoint(const QString &path)
{
    const QList<QStorageInfo> infos = QStorageInfo::mountedVolumes();
    return std::any_of(infos.cbegin(), infos.cend(),
                       [&](const QStorageInfo &i) { return i.rootPath() == path; });
}

// Mounts a loop device and publishes its label as udev would. Empty on failure.
QString TestRealMounts::mountVolume(const char *loopVariable, const QString &label,
                                    const QString &dirName, const QStringList &options)
{
    const QString device = qEnvironmentVariable(loopVariable);
    const QString dir = qEnvironmentVariable("TOVIK_MOUNT_ROOT") + QLatin1Char('/') + dirName;
    QDir().mkpath(dir);
    QStringList arguments = options;
    arguments << device << dir;
    if (QProcess::execute(QStringLiteral("mount"), arguments) != 0)
        return {};
    mounted.append(dir);
    const QString link =
        QStringLiteral("/dev/disk/by-label/") + QFile::decodeName(encodeUdevLabel(label.toUtf8()));
    QFile::remove(link);
    if (!QFile::link(QStringLiteral("../../") + QFileInfo(device).fileName(), link))
        return {};
    return dir;
}

QString TestRealMounts::makeSource(qint64 size)
{
    const QString path = sources.filePath(QStringLiteral("update-%1.tvq").arg(size));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray block(65536, Qt::Uninitialized);
    for (qint64 written = 0; written < size;) {
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((written + i) * 7 + (written + i) / 251);
        const qint64 n = std::min<qint64>(block.size(), size - written);
        file.write(block.constData(), n);
        written += n;
    }
    return path;
}

void TestRealMounts::discovery_data()
{
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("transferReadOnly");
    QTest::addColumn<QString>("expectedDir"); // empty: not found

    QTest::newRow("transfer volume") << QStringLiteral("TOVIK") << false << QStringLiteral("tovik");
    QTest::newRow("update volume") << QStringLiteral("tovikupd") << false << QStringLiteral("upd");
    QTest::newRow("label with a blank, unescaped")
        << QStringLiteral("tovik upd") << false << QStringLiteral("space");
    QTest::newRow("escaped form is not a label")
        << QStringLiteral("tovik\\x20upd") << false << QString();
    QTest::newRow("wrong letter case") << QStringLiteral("tovik") << false << QString();
    QTest::newRow("read-only mount") << QStringLiteral("TOVIK") << true << QString();
}

void TestRealMounts::discovery()
{
    QFETCH(QString, asked);
    QFETCH(bool, transferReadOnly);
    QFETCH(QString, expectedDir);

    const QString upd =
        mountVolume("TOVIK_LOOP_UPD", QStringLiteral("tovikupd"), QStringLiteral("upd"));
    const QString tovik = mountVolume(
        "TOVIK_LOOP_TOVIK", QStringLiteral("TOVIK"), QStringLiteral("tovik"),
        transferReadOnly ? QStringList{QStringLiteral("-o"), QStringLiteral("ro")} : QStringList{});
    const QString space =
        mountVolume("TOVIK_LOOP_SPACE", QStringLiteral("tovik upd"), QStringLiteral("space"));
    QVERIFY(!upd.isEmpty() && !tovik.isEmpty() && !space.isEmpty());

    // The list itself: labels from the links, the root path for everything else.
    StorageVolumeList list;
    QHash<QString, QString> names;
    for (const VolumeEntry &v : list.mountedVolumes())
        names.insert(v.rootPath, v.displayName);
    QCOMPARE(names.value(upd), QStringLiteral("tovikupd"));
    QCOMPARE(names.value(tovik), QStringLiteral("TOVIK"));
    QCOMPARE(names.value(space), QStringLiteral("tovik upd"));
    QCOMPARE(names.value(QStringLiteral("/")), QStringLiteral("/"));

    UrlRecorder browser;
    QSignalSpy opened(&browser, &UrlRecorder::opened);
    WorkerHarness harness;
    emit harness.requestOpenFolder(asked, QStringLiteral("projects"));
    if (expectedDir.isEmpty()) {
        QVERIFY(!opened.wait(1000));
        return;
    }
    QVERIFY(opened.wait(5000));
    const QString root = qEnvironmentVariable("TOVIK_MOUNT_ROOT") + QLatin1Char('/') + expectedDir;
    QCOMPARE(opened.constFirst().constFirst().toUrl(),
             QUrl::fromLocalFile(root + QStringLiteral("/projects")));
}

void TestRealMounts::update_data()
{
    QTest::addColumn<QByteArray>("loop");
    QTest::addColumn<QString>("dirName");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("earlierTarget"); // a "tvxxfer.tvq" is already there
    QTest::addColumn<QString>("warning");    // empty: success

    const QByteArray upd("TOVIK_LOOP_UPD");
    QTest::newRow("copied, renamed and dismounted")
        << upd << QStringLiteral("upd") << qint64(1000000) << false << QString();
    QTest::newRow("tvxxfer.tvq already there")
        << upd << QStringLiteral("upd") << qint64(9000) << true
        << QStringLiteral("FM: Failed to rename file on \"tovikupd\"");
    QTest::newRow("file system fills up")
        << QByteArray("TOVIK_LOOP_TINY") << QStringLiteral("tiny") << qint64(4 * 1024 * 1024)
        << false << QStringLiteral("FM: Failed to copy update file to \"tovikupd\"");
}

void TestRealMounts::update()
{
    QFETCH(QByteArray, loop);
    QFETCH(QString, dirName);
    QFETCH(qint64, size);
    QFETCH(bool, earlierTarget);
    QFETCH(QString, warning);

    const QString volume = mountVolume(loop.constData(), QStringLiteral("tovikupd"), dirName);
    QVERIFY(!volume.isEmpty());
    QFile target(volume + QStringLiteral("/tvxxfer.tvq"));
    if (earlierTarget) {
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write("previous");
        target.close();
    }
    const QString source = makeSource(size);
    QVERIFY(!source.isEmpty());
    const QString name = QFileInfo(source).fileName();

    LogCapture messages;
    WorkerHarness harness;
    QSignalSpy done(&harness, &WorkerHarness::fileTransferComplete);
    emit harness.downloadFinished(true, source, name);
    emit harness.deviceSetToTransferMode();
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 30000);
    QCOMPARE(done.constFirst().constFirst().toBool(), warning.isEmpty());
    QCOMPARE(messages.warnings(), warning.isEmpty() ? QStringList() : QStringList{warning});
    QCOMPARE(isMountPoint(volume), !warning.isEmpty());
    // Mount it again after a success and look at what the instrument will find.
    if (warning.isEmpty()) {
        QVERIFY(!mountVolume(loop.constData(), QStringLiteral("tovikupd"), dirName).isEmpty());
        QFile original(source);
        QVERIFY(original.open(QIODevice::ReadOnly));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.size(), size);
        QVERIFY(target.readAll() == original.readAll());
        QVERIFY(!QFile::exists(volume + QLatin1Char('/') + name));
        return;
    }
    // Nothing was renamed, an earlier file is untouched, and the (partial) copy stays.
    QCOMPARE(target.open(QIODevice::ReadOnly), earlierTarget);
    if (earlierTarget)
        QCOMPARE(target.readAll(), QByteArray("previous"));
    const QFileInfo copy(volume + QLatin1Char('/') + name);
    QVERIFY(copy.exists());
    QVERIFY(earlierTarget ? copy.size() == size : copy.size() < size);
}

void TestRealMounts::ejectWhileFileOpen()
{
    const QString tovik =
        mountVolume("TOVIK_LOOP_TOVIK", QStringLiteral("TOVIK"), QStringLiteral("tovik"));
    QVERIFY(!tovik.isEmpty());
    QFile held(tovik + QStringLiteral("/held.txt"));
    QVERIFY(held.open(QIODevice::WriteOnly));

    LogCapture messages;
    WorkerHarness harness;
    QSignalSpy ejected(&harness, &WorkerHarness::ejectCompleted);
    emit harness.requestEjectDevice(QStringLiteral("TOVIK"));
    QTRY_COMPARE_WITH_TIMEOUT(ejected.size(), 1, 30000);
    QCOMPARE(ejected.constFirst().constFirst().toBool(), false);
    QVERIFY(isMountPoint(tovik));
    QVERIFY2(messages.warnings().join(QLatin1Char('\n')).contains(QStringLiteral("busy")),
             qPrintable(messages.warnings().join(QLatin1Char('\n'))));

    held.close();
    emit harness.requestEjectDevice(QStringLiteral("TOVIK"));
    QTRY_COMPARE_WITH_TIMEOUT(ejected.size(), 2, 30000);
    QCOMPARE(ejected.at(1).constFirst().toBool(), true);
    QVERIFY(!isMountPoint(tovik));
}

QTEST_MAIN(TestRealMounts)
#include "tst_real_mounts.moc"
