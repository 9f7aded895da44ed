#include "MessageRecorder.h"
#include "UrlRecorder.h"

#include "storage/FileManager.h"
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
    void updateOntoRealVolume();
    void existingTargetOnRealVolume();
    void fullFileSystem();
    void ejectWhileFileOpen();

private:
    QString mountVolume(const char *loopVariable, const QString &label, const QString &dirName,
                        const QStringList &options = {});
    static bool isMountPoint(const QString &path);
    QString makeSource(qint64 size);

    struct Run
    {
        Run();
        ~Run();
        QThread thread;
        FileManager *fileManager;
    };

    QStringList mounted;
    QTemporaryDir sources;
};

TestRealMounts::Run::Run()
    : fileManager(new FileManager())
{
    fileManager->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, fileManager, &QObject::deleteLater);
    thread.start();
}

TestRealMounts::Run::~Run()
{
    thread.quit();
    thread.wait();
}

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
    for (const QString &path : std::as_const(mounted)) {
        if (isMountPoint(path))
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

    MessageRecorder messages;
    UrlRecorder browser;
    QSignalSpy opened(&browser, &UrlRecorder::opened);
    Run run;
    QMetaObject::invokeMethod(run.fileManager, "openFolderOnDevice", Qt::QueuedConnection,
                              Q_ARG(QString, asked), Q_ARG(QString, QStringLiteral("projects")));
    if (expectedDir.isEmpty()) {
        QVERIFY(!opened.wait(1000));
        return;
    }
    QVERIFY(opened.wait(5000));
    const QString root = qEnvironmentVariable("TOVIK_MOUNT_ROOT") + QLatin1Char('/') + expectedDir;
    QCOMPARE(opened.constFirst().constFirst().toUrl(),
             QUrl::fromLocalFile(root + QStringLiteral("/projects")));
}

void TestRealMounts::updateOntoRealVolume()
{
    const QString upd =
        mountVolume("TOVIK_LOOP_UPD", QStringLiteral("tovikupd"), QStringLiteral("upd"));
    QVERIFY(!upd.isEmpty());
    const QString source = makeSource(1000000);
    QVERIFY(!source.isEmpty());

    MessageRecorder messages;
    Run run;
    QSignalSpy done(run.fileManager, &FileManager::fileTransferComplete);
    QMetaObject::invokeMethod(run.fileManager, "onDownloadFinished", Qt::QueuedConnection,
                              Q_ARG(bool, true), Q_ARG(QString, source),
                              Q_ARG(QString, QFileInfo(source).fileName()));
    QMetaObject::invokeMethod(run.fileManager, "onDeviceSetToTransferMode", Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 30000);
    QCOMPARE(done.constFirst().constFirst().toBool(), true);
    QVERIFY2(!isMountPoint(upd), "the volume is really unmounted");

    // Mount it again and look at what the instrument will find.
    QVERIFY(!mountVolume("TOVIK_LOOP_UPD", QStringLiteral("tovikupd"), QStringLiteral("upd"))
                 .isEmpty());
    QFile original(source);
    QFile copy(upd + QStringLiteral("/tvxxfer.tvq"));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.size(), original.size());
    QVERIFY(copy.readAll() == original.readAll());
    QVERIFY(!QFile::exists(upd + QLatin1Char('/') + QFileInfo(source).fileName()));
    copy.close();
    QVERIFY(QFile::remove(copy.fileName()));
}

void TestRealMounts::existingTargetOnRealVolume()
{
    const QString upd =
        mountVolume("TOVIK_LOOP_UPD", QStringLiteral("tovikupd"), QStringLiteral("upd"));
    QVERIFY(!upd.isEmpty());
    QFile old(upd + QStringLiteral("/tvxxfer.tvq"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("previous");
    old.close();
    const QString source = makeSource(9000);

    MessageRecorder messages;
    Run run;
    QSignalSpy done(run.fileManager, &FileManager::fileTransferComplete);
    QMetaObject::invokeMethod(run.fileManager, "onDownloadFinished", Qt::QueuedConnection,
                              Q_ARG(bool, true), Q_ARG(QString, source),
                              Q_ARG(QString, QFileInfo(source).fileName()));
    QMetaObject::invokeMethod(run.fileManager, "onDeviceSetToTransferMode", Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 30000);
    QCOMPARE(done.constFirst().constFirst().toBool(), false);
    QCOMPARE(messages.warnings(),
             QStringList{QStringLiteral("FM: Failed to rename file on \"tovikupd\"")});
    QVERIFY(isMountPoint(upd));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("previous"));
    QCOMPARE(QFileInfo(upd + QLatin1Char('/') + QFileInfo(source).fileName()).size(), 9000);
    QVERIFY(QFile::remove(upd + QLatin1Char('/') + QFileInfo(source).fileName()));
    QVERIFY(QFile::remove(old.fileName()));
}

void TestRealMounts::fullFileSystem()
{
    const QString tiny =
        mountVolume("TOVIK_LOOP_TINY", QStringLiteral("tovikupd"), QStringLiteral("tiny"));
    QVERIFY(!tiny.isEmpty());
    const QString source = makeSource(4 * 1024 * 1024);

    MessageRecorder messages;
    Run run;
    QSignalSpy done(run.fileManager, &FileManager::fileTransferComplete);
    QMetaObject::invokeMethod(run.fileManager, "onDownloadFinished", Qt::QueuedConnection,
                              Q_ARG(bool, true), Q_ARG(QString, source),
                              Q_ARG(QString, QFileInfo(source).fileName()));
    QMetaObject::invokeMethod(run.fileManager, "onDeviceSetToTransferMode", Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 30000);
    QCOMPARE(done.constFirst().constFirst().toBool(), false);
    QCOMPARE(messages.warnings(),
             QStringList{QStringLiteral("FM: Failed to copy update file to \"tovikupd\"")});
    // The partial file stays; nothing was renamed and the volume is still there.
    const QFileInfo partial(tiny + QLatin1Char('/') + QFileInfo(source).fileName());
    QVERIFY(partial.exists());
    QVERIFY(partial.size() < 4 * 1024 * 1024);
    QVERIFY(!QFile::exists(tiny + QStringLiteral("/tvxxfer.tvq")));
    QVERIFY(isMountPoint(tiny));
    QVERIFY(QFile::remove(partial.filePath()));
}

void TestRealMounts::ejectWhileFileOpen()
{
    const QString tovik =
        mountVolume("TOVIK_LOOP_TOVIK", QStringLiteral("TOVIK"), QStringLiteral("tovik"));
    QVERIFY(!tovik.isEmpty());
    QFile held(tovik + QStringLiteral("/held.txt"));
    QVERIFY(held.open(QIODevice::WriteOnly));

    MessageRecorder messages;
    Run run;
    QSignalSpy ejected(run.fileManager, &FileManager::ejectCompleted);
    QMetaObject::invokeMethod(run.fileManager, "ejectDeviceAndEmit", Qt::QueuedConnection,
                              Q_ARG(QString, QStringLiteral("TOVIK")));
    QTRY_COMPARE_WITH_TIMEOUT(ejected.size(), 1, 30000);
    QCOMPARE(ejected.constFirst().constFirst().toBool(), false);
    QVERIFY(isMountPoint(tovik));
    QVERIFY2(messages.warnings().join(QLatin1Char('\n')).contains(QStringLiteral("busy")),
             qPrintable(messages.warnings().join(QLatin1Char('\n'))));

    held.close();
    QMetaObject::invokeMethod(run.fileManager, "ejectDeviceAndEmit", Qt::QueuedConnection,
                              Q_ARG(QString, QStringLiteral("TOVIK")));
    QTRY_COMPARE_WITH_TIMEOUT(ejected.size(), 2, 30000);
    QCOMPARE(ejected.at(1).constFirst().toBool(), true);
    QVERIFY(!isMountPoint(tovik));
}

QTEST_MAIN(TestRealMounts)
#include "tst_real_mounts.moc"
