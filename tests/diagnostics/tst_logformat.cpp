#include "diagnostics/LogFormat.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestLogFormat : public QObject
{
    Q_OBJECT

private slots:
    void messageLines_data();
    void messageLines();
    void fixedLines();
    void directoryAndFileName();
    void header();
    void pruning_data();
    void pruning();
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

void TestLogFormat::fixedLines()
{
    const QString ts = QStringLiteral("2026-01-02 03:04:05.006");
    QCOMPARE(formatTraceLine(ts, QStringLiteral("copy %1 done")), ts + " TRACE copy %1 done");
    QCOMPARE(formatFatalAbortLine(ts), ts + " FATAL --- qFatal, aborting ---");
    QCOMPARE(
        formatLocalDumpsLine(ts, QStringLiteral("tovik.exe"), QStringLiteral("C:/x/logs"), true),
        ts + " INFO  WER LocalDumps for tovik.exe -> C:/x/logs (enabled)");
    QCOMPARE(formatLocalDumpsLine(ts, QStringLiteral("a%1"), QStringLiteral("/d"), false),
             ts + " INFO  WER LocalDumps for a%1 -> /d (FAILED)");
    QCOMPARE(sourceSuffix(nullptr, 42), QString());
    QCOMPARE(sourceSuffix("F", 42), QStringLiteral(" (F:42)"));
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

void TestLogFormat::header()
{
    const QStringList lines =
        headerLines(QStringLiteral("1.3.2"), QStringLiteral("T"), QStringLiteral("Debian"),
                    QStringLiteral("6.1"), QStringLiteral("x86_64"), QStringLiteral("arm64"),
                    QStringLiteral("6.4.2"), QStringLiteral("/l/f.log"));
    const QStringList expected = {
        QStringLiteral("=== Tovik Updater 1.3.2 ==="), QStringLiteral("started      T"),
        QStringLiteral("os           Debian (6.1)"),   QStringLiteral("build arch   x86_64"),
        QStringLiteral("host arch    arm64"),          QStringLiteral("qt runtime   6.4.2"),
        QStringLiteral("log file     /l/f.log"),       QString()};
    QCOMPARE(lines, expected);
}

void TestLogFormat::pruning_data()
{
    QTest::addColumn<int>("logs");
    QTest::addColumn<int>("kept");
    QTest::newRow("25 logs") << 25 << 20;
    QTest::newRow("21 logs") << 21 << 20;
    QTest::newRow("exactly 20") << 20 << 20;
    QTest::newRow("none") << 0 << 0;
}

void TestLogFormat::pruning()
{
    QFETCH(int, logs);
    QFETCH(int, kept);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDateTime base = QDateTime::currentDateTime().addDays(-2);
    // Names run against age, so only the modification time can decide which go.
    for (int i = 0; i < logs; ++i) {
        QFile file(dir.filePath(QStringLiteral("updater-%1.log").arg(100 - i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
        QVERIFY(file.flush()); // a write after setFileTime would make the file new again
        QVERIFY(file.setFileTime(base.addSecs(60 * i), QFileDevice::FileModificationTime));
    }
    const QStringList others = {QStringLiteral("crash-20260101-000000-1.dmp"),
                                QStringLiteral("notes.txt"), QStringLiteral("updater-x.log.bak"),
                                QStringLiteral("updater.log")};
    for (const QString &name : others) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(base.addDays(-30), QFileDevice::FileModificationTime));
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("updater-dir.log")));

    pruneOldLogs(dir.path(), keptLogFiles);

    const QStringList left =
        QDir(dir.path()).entryList({QStringLiteral("updater-*.log")}, QDir::Files);
    QCOMPARE(left.size(), kept);
    // The survivors are the ones with the newest modification times.
    for (int i = logs - kept; i < logs; ++i)
        QVERIFY2(left.contains(QStringLiteral("updater-%1.log").arg(100 - i)),
                 qPrintable(left.join(',')));
    for (const QString &name : others)
        QVERIFY2(QFile::exists(dir.filePath(name)), qPrintable(name));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("updater-dir.log"))).isDir());
}

QTEST_GUILESS_MAIN(TestLogFormat)
#include "tst_logformat.moc"
