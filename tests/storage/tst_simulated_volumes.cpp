#include "sim/volumes/SimulatedVolumes.h"

#include <QtTest>

// The simulated volumes themselves: the mapping from the instrument's labels to folders, the
// faults, and their use from several threads at once.
class TestSimulatedVolumes : public QObject
{
    Q_OBJECT
private slots:
    void presentAndWithdraw();
    void writeFaults_data();
    void writeFaults();
    void dismountFromAnotherThread();
    void concurrentUse();
};

void TestSimulatedVolumes::presentAndWithdraw()
{
    QTemporaryDir dir;
    SimulatedVolumes volumes;
    QSignalSpy added(&volumes, &SimulatedVolumes::volumeAdded);
    QSignalSpy removed(&volumes, &SimulatedVolumes::volumeRemoved);
    volumes.present(QStringLiteral("TOVIK")); // no folder yet: nothing happens
    QCOMPARE(volumes.mountedLabels(), QStringList());

    SimulatedVolumes::Flags readOnly;
    readOnly.readOnly = true;
    volumes.setVolumeFolder(QStringLiteral("TOVIK"), dir.path(), readOnly);
    volumes.present(QStringLiteral("TOVIK"));
    QCOMPARE(volumes.mountedLabels(), QStringList{QStringLiteral("TOVIK")});
    const QList<VolumeEntry> listed = volumes.mountedVolumes();
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.constFirst().rootPath, QDir::cleanPath(dir.path()));
    QCOMPARE(listed.constFirst().displayName, QStringLiteral("TOVIK"));
    QVERIFY(listed.constFirst().valid && listed.constFirst().ready);
    QVERIFY(listed.constFirst().readOnly);

    volumes.withdraw(QStringLiteral("TOVIK"));
    QVERIFY(!volumes.isMounted(QStringLiteral("TOVIK")));
    QCOMPARE(added.size(), 1);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(volumes.lookupCount(), 1);
    QVERIFY(!volumes.removeVolume(QStringLiteral("TOVIK")));
}

void TestSimulatedVolumes::writeFaults_data()
{
    QTest::addColumn<qint64>("vanishAfter");
    QTest::addColumn<qint64>("capacity");
    QTest::addColumn<int>("acceptedWrites"); // of five writes of 1000 bytes
    QTest::addColumn<bool>("mountedAfter");

    QTest::newRow("no fault") << qint64(-1) << qint64(-1) << 5 << true;
    QTest::newRow("vanishes after 2500 bytes") << qint64(2500) << qint64(-1) << 2 << false;
    QTest::newRow("vanishes exactly at the limit") << qint64(3000) << qint64(-1) << 3 << false;
    QTest::newRow("full after 1500 bytes") << qint64(-1) << qint64(1500) << 1 << true;
    QTest::newRow("no room at all") << qint64(-1) << qint64(0) << 0 << true;
}

void TestSimulatedVolumes::writeFaults()
{
    QFETCH(qint64, vanishAfter);
    QFETCH(qint64, capacity);
    QFETCH(int, acceptedWrites);
    QFETCH(bool, mountedAfter);

    QTemporaryDir dir;
    SimulatedVolumes volumes;
    volumes.addVolume(QStringLiteral("tovikupd"), dir.path());
    volumes.setVanishAfterBytes(QStringLiteral("tovikupd"), vanishAfter);
    volumes.setCapacity(QStringLiteral("tovikupd"), capacity);

    const std::unique_ptr<QFile> file = volumes.fileOnVolume(dir.filePath(QStringLiteral("f.bin")));
    QVERIFY(file->open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray chunk(1000, 'z');
    int accepted = 0;
    for (int i = 0; i < 5; ++i) {
        if (file->write(chunk) == chunk.size())
            ++accepted;
        else
            break;
    }
    file->close();
    QCOMPARE(accepted, acceptedWrites);
    QCOMPARE(QFileInfo(file->fileName()).size(), qint64(acceptedWrites) * 1000);
    QCOMPARE(volumes.isMounted(QStringLiteral("tovikupd")), mountedAfter);
}

void TestSimulatedVolumes::dismountFromAnotherThread()
{
    QTemporaryDir dir;
    SimulatedVolumes volumes;
    volumes.addVolume(QStringLiteral("TOVIK"), dir.path());
    volumes.setDismountError(QStringLiteral("TOVIK"), QStringLiteral("busy"));

    // The instrument's slot is reached queued, on the receiver's thread.
    QObject receiver;
    QStringList received;
    connect(
        &volumes, &SimulatedVolumes::volumeDismounted, &receiver,
        [&](const QString &label) {
            QCOMPARE(QThread::currentThread(), receiver.thread());
            received.append(label);
        },
        Qt::QueuedConnection);

    bool first = true;
    bool second = false;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        first = volumes.dismount(dir.path());
        volumes.setDismountError(QStringLiteral("TOVIK"), QString());
        second = volumes.dismount(dir.path() + QLatin1Char('/'));
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QVERIFY(!first);
    QVERIFY(second);
    QTRY_COMPARE(received, QStringList{QStringLiteral("TOVIK")});
    QCOMPARE(volumes.dismountRequests().size(), 2);
    QVERIFY(!volumes.dismount(dir.path())); // already gone
}

void TestSimulatedVolumes::concurrentUse()
{
    QTemporaryDir dir;
    SimulatedVolumes volumes;
    std::atomic<bool> stop{false};
    std::atomic<int> inconsistent{0};
    std::unique_ptr<QThread> reader(QThread::create([&] {
        while (!stop.load()) {
            for (const VolumeEntry &v : volumes.mountedVolumes()) {
                if (v.displayName != QLatin1String("A") && v.displayName != QLatin1String("B"))
                    ++inconsistent;
            }
        }
    }));
    reader->start();
    for (int i = 0; i < 2000; ++i) {
        volumes.addVolume(i % 2 ? QStringLiteral("A") : QStringLiteral("B"), dir.path());
        if (i % 3 == 0)
            volumes.removeVolume(QStringLiteral("A"));
    }
    stop.store(true);
    QVERIFY(reader->wait(10000));
    QCOMPARE(inconsistent.load(), 0);
    QVERIFY(volumes.lookupCount() > 0);
    // 1000 of each added; every third round removes an A, except the first, before any A.
    QCOMPARE(volumes.mountedLabels().count(QStringLiteral("B")), 1000);
    QCOMPARE(volumes.mountedLabels().count(QStringLiteral("A")), 1000 - 666);
}

QTEST_GUILESS_MAIN(TestSimulatedVolumes)
#include "tst_simulated_volumes.moc"
