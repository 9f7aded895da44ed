#include "storage/StorageVolumeList.h"

#include <QtTest>

// The system's volume list: the real QStorageInfo, with labels read from a by-label folder that
// the test fills with udev-style links to the real devices of this machine.
class TestStorageVolumeList : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void labels_data();
    void labels();

private:
    QString rootDevice;
};

void TestStorageVolumeList::initTestCase()
{
    rootDevice = QFileInfo(QFile::decodeName(QStorageInfo::root().device())).canonicalFilePath();
    if (rootDevice.isEmpty())
        QSKIP("the root file system has no device node here");
}

void TestStorageVolumeList::labels_data()
{
    // Entries of the by-label folder: "name>target" is a link (target "ROOT" = the root file
    // system's device), a bare name is a plain file.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("rootName");

    QTest::newRow("no labels: root path") << QStringList() << QStringLiteral("/");
    QTest::newRow("plain label") << QStringList{QStringLiteral("tovikupd>ROOT")}
                                 << QStringLiteral("tovikupd");
    QTest::newRow("escaped blank")
        << QStringList{QStringLiteral("tovik\\x20upd>ROOT")} << QStringLiteral("tovik upd");
    QTest::newRow("dangling link ignored")
        << QStringList{QStringLiteral("GONE>/dev/no-such-device")} << QStringLiteral("/");
    QTest::newRow("plain file ignored")
        << QStringList{QStringLiteral("TOVIK")} << QStringLiteral("/");
    QTest::newRow("other device's label")
        << QStringList{QStringLiteral("OTHER>/dev/null")} << QStringLiteral("/");
}

void TestStorageVolumeList::labels()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, rootName);

    QTemporaryDir byLabel;
    QVERIFY(byLabel.isValid());
    for (const QString &entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('>'));
        const QString path = byLabel.filePath(parts.at(0));
        if (parts.size() == 1) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            const QString target = parts.at(1) == QLatin1String("ROOT") ? rootDevice : parts.at(1);
            QVERIFY(QFile::link(target, path));
        }
    }

    StorageVolumeList list(byLabel.path());
    const QList<VolumeEntry> volumes = list.mountedVolumes();
    const QList<QStorageInfo> infos = QStorageInfo::mountedVolumes();
    QCOMPARE(volumes.size(), infos.size());
    bool sawRoot = false;
    for (int i = 0; i < volumes.size(); ++i) {
        const VolumeEntry &v = volumes.at(i);
        QCOMPARE(v.rootPath, infos.at(i).rootPath());
        QCOMPARE(v.valid, infos.at(i).isValid());
        QCOMPARE(v.ready, infos.at(i).isReady());
        QCOMPARE(v.readOnly, infos.at(i).isReadOnly());
        if (v.rootPath == QLatin1String("/")) {
            sawRoot = true;
            QCOMPARE(v.displayName, rootName);
        } else if (QFileInfo(QFile::decodeName(infos.at(i).device())).canonicalFilePath() !=
                   rootDevice) {
            QCOMPARE(v.displayName, v.rootPath);
        }
    }
    QVERIFY(sawRoot);
}

QTEST_GUILESS_MAIN(TestStorageVolumeList)
#include "tst_storage_volume_list.moc"
