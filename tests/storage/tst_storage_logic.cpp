#include "storage/StorageLogic.h"

#include <QtTest>

// The pure helpers behind the copy progress, the label lookup and the dismount paths.
class TestStorageLogic : public QObject
{
    Q_OBJECT
private slots:
    void percentage();
    void udevLabel_data();
    void udevLabel();
    void mountPoints();
};

void TestStorageLogic::percentage()
{
    QCOMPARE(copyPercentage(8192, 10000), 81); // rounds toward zero
    QCOMPARE(copyPercentage(4096, -1), 0);     // unknown total
    const qint64 big = std::numeric_limits<qint64>::max();
    QCOMPARE(copyPercentage(big / 2, big), 50); // copied * 100 would overflow
}

void TestStorageLogic::udevLabel_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("linkName");
    QTest::addColumn<bool>("encodesSo"); // false: only the reading direction holds
    QTest::newRow("blank and slash")
        << QByteArray("my disk/2") << QByteArray("my\\x20disk\\x2f2") << true;
    QTest::newRow("invalid utf-8 escaped")
        << QByteArray("\xff\xc0\xaf") << QByteArray("\\xff\\xc0\\xaf") << true;
    QTest::newRow("upper-case hex") << QByteArray("a/b") << QByteArray("a\\x2Fb") << false;
    QTest::newRow("broken escapes kept")
        << QByteArray("\\xzz\\x2\\") << QByteArray("\\xzz\\x2\\") << false;
}

void TestStorageLogic::udevLabel()
{
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, linkName);
    QFETCH(bool, encodesSo);
    QCOMPARE(decodeUdevLabel(linkName), QString::fromUtf8(label));
    if (encodesSo)
        QCOMPARE(encodeUdevLabel(label), linkName);
}

// UDisks2's NUL-terminated byte arrays, matched against the mount point being dismounted.
void TestStorageLogic::mountPoints()
{
    const QList<QByteArray> raw{QByteArray("/a\0zz", 5), QByteArray("\0", 1), QByteArray("/b")};
    QCOMPARE(decodeMountPoints(raw), (QStringList{QStringLiteral("/a"), QStringLiteral("/b")}));
    QVERIFY(sameMountPoint(QStringLiteral("/media/x/"), QStringLiteral("/media/x")));
    QVERIFY(!sameMountPoint(QStringLiteral("/media/x"), QStringLiteral("/media/xy")));
    QVERIFY(!sameMountPoint(QStringLiteral("/media/X"), QStringLiteral("/media/x")));
    QVERIFY(!sameMountPoint(QString(), QStringLiteral("/")));
    QCOMPARE(windowsDevicePath(QStringLiteral("E:\\")), QStringLiteral("\\\\.\\E:"));
}

QTEST_GUILESS_MAIN(TestStorageLogic)
#include "tst_storage_logic.moc"
