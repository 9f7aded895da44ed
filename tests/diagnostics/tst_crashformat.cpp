#include "diagnostics/CrashFormat.h"

#include <QDateTime>
#include <QTest>

#include <csignal>
#include <stdexcept>

class TestCrashFormat : public QObject
{
    Q_OBJECT

private slots:
    void numbers_data();
    void numbers();
    void civilTime_data();
    void civilTime();
    void longExceptionMessage();
    void signalCodes_data();
    void signalCodes();
};

void TestCrashFormat::numbers_data()
{
    QTest::addColumn<char>("form"); // 'x' hexadecimal, '8' eight hex digits, 'd' decimal
    QTest::addColumn<quint64>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("hex zero") << 'x' << quint64(0) << QByteArray("0");
    QTest::newRow("hex no padding") << 'x' << quint64(26) << QByteArray("1a");
    QTest::newRow("hex max") << 'x' << quint64(~0ULL) << QByteArray("ffffffffffffffff");
    QTest::newRow("code small") << '8' << quint64(0x1d) << QByteArray("0000001d");
    QTest::newRow("code access violation") << '8' << quint64(0xC0000005) << QByteArray("c0000005");
    QTest::newRow("decimal max") << 'd' << quint64(~0ULL) << QByteArray("18446744073709551615");
}

void TestCrashFormat::numbers()
{
    QFETCH(char, form);
    QFETCH(quint64, value);
    QFETCH(QByteArray, text);
    char buf[64];
    const std::size_t len = appendText(buf, sizeof buf, 0, "x=");
    const std::size_t end = form == 'x'   ? appendHex(buf, sizeof buf, len, value)
                            : form == '8' ? appendHex8(buf, sizeof buf, len, quint32(value))
                                          : appendDecimal(buf, sizeof buf, len, value);
    QCOMPARE(QByteArray(buf), "x=" + text);
    QCOMPARE(end, std::size_t(2 + text.size()));
}

void TestCrashFormat::civilTime_data()
{
    QTest::addColumn<qint64>("epochMs");
    QTest::addColumn<int>("offset");
    QTest::newRow("before epoch") << qint64(-1) << 0;
    QTest::newRow("leap day 2024") << qint64(1709164800123) << 0;
    QTest::newRow("2100 not leap") << qint64(4107542400000) << 0;
    QTest::newRow("negative offset across a day") << qint64(1767225600500) << -5 * 3600;
    QTest::newRow("half-hour zone") << qint64(1800000000000) << 5 * 3600 + 1800;
}

void TestCrashFormat::civilTime()
{
    QFETCH(qint64, epochMs);
    QFETCH(int, offset);
    const QDateTime reference = QDateTime::fromMSecsSinceEpoch(epochMs, Qt::OffsetFromUTC, offset);
    const CivilTime t = civilTimeFromEpoch(epochMs, offset);
    char stamp[24];
    formatLogTimestamp(t, stamp);
    QCOMPARE(QString::fromLatin1(stamp),
             reference.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
    char file[16];
    formatFileStamp(t, file);
    QCOMPARE(QString::fromLatin1(file), reference.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

// The three reasons are read back from real terminations; here a message longer than the buffer.
void TestCrashFormat::longExceptionMessage()
{
    char reason[64];
    try {
        throw std::logic_error(std::string(200, 'w'));
    } catch (...) {
        QCOMPARE(describeCurrentException(reason, sizeof reason), sizeof reason - 1);
    }
    QVERIFY(QByteArray(reason).startsWith("std::exception: www"));
}

void TestCrashFormat::signalCodes_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("intDiv");
    QTest::addColumn<quint64>("fault");
    QTest::addColumn<quint64>("sp");
    QTest::addColumn<quint32>("code");
    const quint64 sp = 0x7ffc12340000ULL;
    QTest::newRow("null write") << SIGSEGV << false << quint64(0x2a0) << sp << quint32(0xC0000005);
    QTest::newRow("guard page, big frame")
        << SIGSEGV << false << sp - stackOverflowReach << sp << quint32(0xC00000FD);
    QTest::newRow("far below sp") << SIGSEGV << false << sp - stackOverflowReach - 1 << sp
                                  << quint32(0xC0000005);
    QTest::newRow("unknown sp") << SIGSEGV << false << quint64(8) << quint64(0)
                                << quint32(0xC0000005);
    QTest::newRow("bus") << SIGBUS << false << quint64(0x1000) << sp << quint32(0xC0000006);
    QTest::newRow("illegal") << SIGILL << false << quint64(0x401000) << sp << quint32(0xC000001D);
    QTest::newRow("float fpe") << SIGFPE << false << quint64(0x401000) << sp << quint32(0);
    QTest::newRow("other signal") << SIGTERM << false << quint64(0) << sp << quint32(0);
}

void TestCrashFormat::signalCodes()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, intDiv);
    QFETCH(quint64, fault);
    QFETCH(quint64, sp);
    QFETCH(quint32, code);
    QCOMPARE(crashCodeForSignal(signalNumber, intDiv, fault, sp), code);
}

QTEST_GUILESS_MAIN(TestCrashFormat)
#include "tst_crashformat.moc"
