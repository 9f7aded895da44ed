#include "diagnostics/LogFormat.h"

#include <QDateTime>
#include <QTest>

class TestLogFormat : public QObject
{
    Q_OBJECT

private slots:
    void messageLines_data();
    void messageLines();
    void localDumpsLine();
    void directoryAndFileName();
};

void TestLogFormat::messageLines_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<quint64>("threadId");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");

    const QString ts = QStringLiteral("2026-01-02 03:04:05.006");
    QTest::newRow("warning, thread 26, no file")
        << int(QtWarningMsg) << quint64(26) << "disk full" << QByteArray() << 0
        << ts + " WARN  [1a] disk full";
    QTest::newRow("info with source")
        << int(QtInfoMsg) << quint64(0xabcdef) << "hello" << QByteArray("F") << 42
        << ts + " INFO  [abcdef] hello (F:42)";
    QTest::newRow("percent placeholders stay")
        << int(QtDebugMsg) << quint64(1) << "a %1 b %2 c %5" << QByteArray() << 0
        << ts + " DEBUG [1] a %1 b %2 c %5";
    QTest::newRow("digits and percent next to a source")
        << int(QtCriticalMsg) << quint64(0) << "%3%4 100%" << QByteArray("dir/x.cpp") << 7
        << ts + " CRIT  [0] %3%4 100% (dir/x.cpp:7)";
    QTest::newRow("utf-8 file name")
        << int(QtFatalMsg) << quint64(0xffffffffffffffffULL) << "ü" << QByteArray("grüße.cpp") << 1
        << ts + " FATAL [ffffffffffffffff] ü (grüße.cpp:1)";
    QTest::newRow("empty message")
        << int(QtWarningMsg) << quint64(2) << "" << QByteArray() << 0 << ts + " WARN  [2] ";
    QTest::newRow("unknown type as info")
        << 99 << quint64(3) << "odd" << QByteArray() << 0 << ts + " INFO  [3] odd";
}

void TestLogFormat::messageLines()
{
    QFETCH(int, type);
    QFETCH(quint64, threadId);
    QFETCH(QString, message);
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    QFETCH(QString, expected);
    const QString built =
        formatMessageLine(QStringLiteral("2026-01-02 03:04:05.006"), static_cast<QtMsgType>(type),
                          threadId, message, file.isNull() ? nullptr : file.constData(), line);
    QCOMPARE(built, expected);
    // The level field is five wide: the thread field always opens in column 31.
    QCOMPARE(built.indexOf(QLatin1Char('[')), 30);
}

// The registration line; the trace, abort and header lines are read back from a real log.
void TestLogFormat::localDumpsLine()
{
    const QString ts = QStringLiteral("2026-01-02 03:04:05.006");
    QCOMPARE(
        formatLocalDumpsLine(ts, QStringLiteral("tovik.exe"), QStringLiteral("C:/x/logs"), true),
        ts + " INFO  WER LocalDumps for tovik.exe -> C:/x/logs (enabled)");
    QCOMPARE(formatLocalDumpsLine(ts, QStringLiteral("a%1"), QStringLiteral("/d"), false),
             ts + " INFO  WER LocalDumps for a%1 -> /d (FAILED)");
}

void TestLogFormat::directoryAndFileName()
{
    QCOMPARE(logDirectoryFor(QStringLiteral("/home/u/.config"), QStringLiteral("/tmp")),
             QStringLiteral("/home/u/.config/Tovik-Instruments/Tovik Updater/logs"));
    QCOMPARE(logDirectoryFor(QString(), QStringLiteral("/tmp")),
             QStringLiteral("/tmp/Tovik-Instruments/Tovik Updater/logs"));

    const QDateTime start(QDate(2026, 3, 4), QTime(5, 6, 7, 890));
    QCOMPARE(logFilePath(QStringLiteral("/l"), start, 4242),
             QStringLiteral("/l/updater-20260304-050607-4242.log"));
}

QTEST_GUILESS_MAIN(TestLogFormat)
#include "tst_logformat.moc"
