#include "diagnostics/CrashFormat.h"

#include <QDateTime>
#include <QTest>

#include <csignal>
#include <cstring>
#include <stdexcept>

class TestCrashFormat : public QObject
{
    Q_OBJECT

private slots:
    void numbers_data();
    void numbers();
    void truncation();
    void exceptionNames_data();
    void exceptionNames();
    void civilTime_data();
    void civilTime();
    void crashLines_data();
    void crashLines();
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
    QTest::newRow("hex 26") << 'x' << quint64(26) << QByteArray("1a");
    QTest::newRow("hex no padding") << 'x' << quint64(0x10) << QByteArray("10");
    QTest::newRow("hex address") << 'x' << quint64(0x7ffdeadbeef0ULL) << QByteArray("7ffdeadbeef0");
    QTest::newRow("hex max") << 'x' << quint64(~0ULL) << QByteArray("ffffffffffffffff");
    QTest::newRow("code zero") << '8' << quint64(0) << QByteArray("00000000");
    QTest::newRow("code small") << '8' << quint64(0x1d) << QByteArray("0000001d");
    QTest::newRow("code below 0x10000000") << '8' << quint64(0x0fffffff) << QByteArray("0fffffff");
    QTest::newRow("code access violation") << '8' << quint64(0xC0000005) << QByteArray("c0000005");
    QTest::newRow("code max") << '8' << quint64(0xffffffff) << QByteArray("ffffffff");
    QTest::newRow("decimal 0") << 'd' << quint64(0) << QByteArray("0");
    QTest::newRow("decimal 4194304") << 'd' << quint64(4194304) << QByteArray("4194304");
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

void TestCrashFormat::truncation()
{
    // A short buffer is filled and terminated, never overrun.
    char buf[8];
    std::memset(buf, 'z', sizeof buf);
    std::size_t len = appendText(buf, 6, 0, "abcdefghij");
    QCOMPARE(len, std::size_t(5));
    QCOMPARE(QByteArray(buf), QByteArray("abcde"));
    QCOMPARE(buf[6], 'z');
    len = appendHex(buf, 6, len, 0xfff);
    QCOMPARE(len, std::size_t(5));
    len = appendText(buf, 6, 99, "q"); // a length past the end is clamped
    QCOMPARE(len, std::size_t(5));
    QCOMPARE(appendText(buf, 0, 0, "q"), std::size_t(0));
    QCOMPARE(appendText(buf, 6, 0, nullptr), std::size_t(0));
    QCOMPARE(buf[0], '\0');

    char line[40];
    const std::size_t n =
        formatCrashLine(line, sizeof line, "2026-01-02 03:04:05.006", 0xC0000005, 0x2a0, 26);
    QCOMPARE(n, sizeof line - 1);
    QCOMPARE(QByteArray(line), QByteArray("2026-01-02 03:04:05.006 FATAL === CRASH"));
}

void TestCrashFormat::exceptionNames_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QByteArray>("name");
    // The names a Linux signal maps to are in the crash lines of the crash tests.
    QTest::newRow("priv") << quint32(0xC0000096) << QByteArray("PRIV_INSTRUCTION");
    QTest::newRow("heap") << quint32(0xC0000374) << QByteArray("HEAP_CORRUPTION");
    QTest::newRow("c++") << quint32(0xE06D7363) << QByteArray("C++ exception");
    QTest::newRow("neighbour") << quint32(0xC0000007) << QByteArray("unknown");
}

void TestCrashFormat::exceptionNames()
{
    QFETCH(quint32, code);
    QFETCH(QByteArray, name);
    QCOMPARE(QByteArray(exceptionName(code)), name);
}

void TestCrashFormat::civilTime_data()
{
    QTest::addColumn<qint64>("epochMs");
    QTest::addColumn<int>("offset");
    QTest::newRow("epoch") << qint64(0) << 0;
    QTest::newRow("before epoch") << qint64(-1) << 0;
    QTest::newRow("leap day 2024") << qint64(1709164800123) << 0;
    QTest::newRow("2000-02-29") << qint64(951782400000) << 0;
    QTest::newRow("year end with offset") << qint64(1767225599999) << 3600;
    QTest::newRow("negative offset across a day") << qint64(1767225600500) << -5 * 3600;
    QTest::newRow("half-hour zone") << qint64(1800000000000) << 5 * 3600 + 1800;
    QTest::newRow("2100 not leap") << qint64(4107542400000) << 0;
    QTest::newRow("now") << QDateTime::currentMSecsSinceEpoch() << 7200;
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

void TestCrashFormat::crashLines_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<quint64>("address");
    QTest::addColumn<quint64>("thread");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("example") << quint32(0xC0000005) << quint64(0x2a0) << quint64(26)
                             << QByteArray("T FATAL === CRASH === code=0xc0000005 "
                                           "(ACCESS_VIOLATION) address=0x2a0 thread=0x1a");
    QTest::newRow("null pointers") << quint32(0) << quint64(0) << quint64(0)
                                   << QByteArray("T FATAL === CRASH === code=0x00000000 "
                                                 "(unknown) address=0x0 thread=0x0");
    QTest::newRow("stack overflow")
        << quint32(0xC00000FD) << quint64(0x7ffc0000fff8ULL) << quint64(0x3039)
        << QByteArray("T FATAL === CRASH === code=0xc00000fd (STACK_OVERFLOW) "
                      "address=0x7ffc0000fff8 thread=0x3039");
    QTest::newRow("breakpoint") << quint32(0x80000003) << quint64(1) << quint64(2)
                                << QByteArray("T FATAL === CRASH === code=0x80000003 "
                                              "(unknown) address=0x1 thread=0x2");
}

void TestCrashFormat::crashLines()
{
    QFETCH(quint32, code);
    QFETCH(quint64, address);
    QFETCH(quint64, thread);
    QFETCH(QByteArray, expected);
    char line[256];
    const std::size_t len = formatCrashLine(line, sizeof line, "T", code, address, thread);
    QCOMPARE(QByteArray(line), expected);
    QCOMPARE(len, std::size_t(expected.size()));
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
    QTest::newRow("just below sp") << SIGSEGV << false << sp - 8 << sp << quint32(0xC00000FD);
    QTest::newRow("guard page, big frame")
        << SIGSEGV << false << sp - stackOverflowReach << sp << quint32(0xC00000FD);
    QTest::newRow("far below sp") << SIGSEGV << false << sp - stackOverflowReach - 1 << sp
                                  << quint32(0xC0000005);
    QTest::newRow("unknown sp") << SIGSEGV << false << quint64(8) << quint64(0)
                                << quint32(0xC0000005);
    QTest::newRow("bus") << SIGBUS << false << quint64(0x1000) << sp << quint32(0xC0000006);
    QTest::newRow("illegal") << SIGILL << false << quint64(0x401000) << sp << quint32(0xC000001D);
    QTest::newRow("int div") << SIGFPE << true << quint64(0x401000) << sp << quint32(0xC0000094);
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
