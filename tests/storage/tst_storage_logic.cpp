#include "storage/StorageLogic.h"

#include <QtTest>

// The pure helpers behind the copy progress, the label lookup and the dismount paths.
class TestStorageLogic : public QObject
{
    Q_OBJECT
private slots:
    void percentage_data();
    void percentage();
    void udevLabel_data();
    void udevLabel();
    void mountPoints();
};

void TestStorageLogic::percentage_data()
{
    QTest::addColumn<qint64>("copied");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("expected");
    QTest::newRow("rounds toward zero") << qint64(8192) << qint64(10000) << 81;
    QTest::newRow("empty file") << qint64(0) << qint64(0) << 0;
    QTest::newRow("unknown total") << qint64(4096) << qint64(-1) << 0;
    QTest::newRow("file grew while copying") << qint64(20000) << qint64(10000) << 100;
    QTest::newRow("beyond copied*100 overflow")
        << std::numeric_limits<qint64>::max() / 2 << std::numeric_limits<qint64>::max() << 50;
}

void TestStorageLogic::percentage()
{
    QFETCH(qint64, copied);
    QFETCH(qint64, total);
    QFETCH(int, expected);
    QCOMPARE(copyPercentage(copied, total), expected);
}

void TestStorageLogic::udevLabel_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("linkName");
    QTest::addColumn<bool>("encodesSo"); // false: only the reading direction holds
    QTest::newRow("blank and slash")
        << QByteArray("my disk/2") << QByteArray("my\\x20disk\\x2f2") << true;
    QTest::newRow("allowed punctuation, utf-8")
        << QByteArray("a#+-.:=@_b\xc3\xa9") << QByteArray("a#+-.:=@_b\xc3\xa9") << true;
    QTest::newRow("invalid utf-8 escaped")
        << QByteArray("\xff\xc0\xaf") << QByteArray("\\xff\\xc0\\xaf") << true;
    QTest::newRow("backslash") << QByteArray("a\\x20") << QByteArray("a\\x5cx20") << true;
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QByteArray("a\\x00b") << true;
    QTest::newRow("upper-case hex") << QByteArray("a/b") << QByteArray("a\\x2Fb") << false;
    QTest::newRow("escaped utf-8 bytes")
        << QByteArray("caf\xc3\xa9") << QByteArray("caf\\xc3\\xa9") << false;
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
