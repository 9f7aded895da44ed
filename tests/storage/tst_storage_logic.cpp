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
    void devicePath_data();
    void devicePath();
    void mountPoints_data();
    void mountPoints();
    void sameMountPoint_data();
    void sameMountPoint();
};

void TestStorageLogic::percentage_data()
{
    QTest::addColumn<qint64>("copied");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("expected");
    QTest::newRow("first of three chunks") << qint64(4096) << qint64(10000) << 40;
    QTest::newRow("second of three chunks") << qint64(8192) << qint64(10000) << 81;
    QTest::newRow("last chunk") << qint64(10000) << qint64(10000) << 100;
    QTest::newRow("rounds toward zero") << qint64(999) << qint64(1000) << 99;
    QTest::newRow("empty file") << qint64(0) << qint64(0) << 0;
    QTest::newRow("unknown total") << qint64(4096) << qint64(-1) << 0;
    QTest::newRow("file grew while copying") << qint64(20000) << qint64(10000) << 100;
    QTest::newRow("past the 32-bit range")
        << qint64(3) * 1024 * 1024 * 1024 << qint64(6) * 1024 * 1024 * 1024 << 50;
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
    QTest::newRow("plain") << QByteArray("tovikupd") << QByteArray("tovikupd") << true;
    QTest::newRow("capitals kept") << QByteArray("TOVIK") << QByteArray("TOVIK") << true;
    QTest::newRow("blank") << QByteArray("tovik upd") << QByteArray("tovik\\x20upd") << true;
    QTest::newRow("blank and slash")
        << QByteArray("my disk/2") << QByteArray("my\\x20disk\\x2f2") << true;
    QTest::newRow("allowed punctuation")
        << QByteArray("a#+-.:=@_b") << QByteArray("a#+-.:=@_b") << true;
    QTest::newRow("utf-8 kept") << QByteArray("caf\xc3\xa9") << QByteArray("caf\xc3\xa9") << true;
    QTest::newRow("invalid utf-8 escaped")
        << QByteArray("\xff\xc3") << QByteArray("\\xff\\xc3") << true;
    QTest::newRow("overlong escaped") << QByteArray("\xc0\xaf") << QByteArray("\\xc0\\xaf") << true;
    QTest::newRow("surrogate escaped")
        << QByteArray("\xed\xa0\x80") << QByteArray("\\xed\\xa0\\x80") << true;
    QTest::newRow("backslash") << QByteArray("a\\x20") << QByteArray("a\\x5cx20") << true;
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QByteArray("a\\x00b") << true;
    QTest::newRow("empty") << QByteArray() << QByteArray() << true;
    QTest::newRow("upper-case hex") << QByteArray("a/b") << QByteArray("a\\x2Fb") << false;
    QTest::newRow("escaped utf-8 bytes")
        << QByteArray("caf\xc3\xa9") << QByteArray("caf\\xc3\\xa9") << false;
    QTest::newRow("truncated escape kept")
        << QByteArray("abc\\x2") << QByteArray("abc\\x2") << false;
    QTest::newRow("not hex kept") << QByteArray("\\xzz") << QByteArray("\\xzz") << false;
    QTest::newRow("lone backslash at end") << QByteArray("abc\\") << QByteArray("abc\\") << false;
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

void TestStorageLogic::devicePath_data()
{
    QTest::addColumn<QString>("rootPath");
    QTest::addColumn<QString>("devicePath");
    QTest::newRow("drive root") << QStringLiteral("E:/") << QStringLiteral("\\\\.\\E:");
    QTest::newRow("backslash root") << QStringLiteral("F:\\") << QStringLiteral("\\\\.\\F:");
    QTest::newRow("short") << QStringLiteral("G") << QStringLiteral("\\\\.\\G");
}

void TestStorageLogic::devicePath()
{
    QFETCH(QString, rootPath);
    QFETCH(QString, devicePath);
    QCOMPARE(windowsDevicePath(rootPath), devicePath);
}

void TestStorageLogic::mountPoints_data()
{
    QTest::addColumn<QList<QByteArray>>("raw");
    QTest::addColumn<QStringList>("paths");
    QTest::newRow("nul-terminated") << QList<QByteArray>{QByteArray("/media/u/tovikupd\0", 18)}
                                    << QStringList{QStringLiteral("/media/u/tovikupd")};
    QTest::newRow("without terminator")
        << QList<QByteArray>{QByteArray("/mnt/a")} << QStringList{QStringLiteral("/mnt/a")};
    QTest::newRow("several, empty dropped")
        << QList<QByteArray>{QByteArray("/a\0", 3), QByteArray("\0", 1), QByteArray("/b\0", 3)}
        << QStringList{QStringLiteral("/a"), QStringLiteral("/b")};
    QTest::newRow("garbage after terminator")
        << QList<QByteArray>{QByteArray("/a\0zz", 5)} << QStringList{QStringLiteral("/a")};
    QTest::newRow("none") << QList<QByteArray>{} << QStringList{};
}

void TestStorageLogic::mountPoints()
{
    QFETCH(QList<QByteArray>, raw);
    QFETCH(QStringList, paths);
    QCOMPARE(decodeMountPoints(raw), paths);
}

void TestStorageLogic::sameMountPoint_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("equal") << QStringLiteral("/media/x") << QStringLiteral("/media/x") << true;
    QTest::newRow("trailing slash")
        << QStringLiteral("/media/x/") << QStringLiteral("/media/x") << true;
    QTest::newRow("prefix only") << QStringLiteral("/media/x") << QStringLiteral("/media/xy")
                                 << false;
    QTest::newRow("case differs") << QStringLiteral("/media/X") << QStringLiteral("/media/x")
                                  << false;
    QTest::newRow("empty") << QString() << QStringLiteral("/") << false;
}

void TestStorageLogic::sameMountPoint()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    QCOMPARE(::sameMountPoint(a, b), same);
}

QTEST_GUILESS_MAIN(TestStorageLogic)
#include "tst_storage_logic.moc"
