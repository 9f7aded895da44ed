#include "ChildRun.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void linesAfterHeader_data();
    void linesAfterHeader();
    void pruningAtStartUp_data();
    void pruningAtStartUp();
    void unwritableDirectory();
    void concurrentWriters();
};

namespace {

const QString childSource = QStringLiteral(" \\(\\S*diagchild\\.cpp:\\d+\\)");

} // namespace

void TestLogFile::linesAfterHeader_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("abortSignal"); // 0: a normal exit with 0
    QTest::addColumn<QString>("out");
    QTest::addColumn<QStringList>("lines"); // %tid: the main thread's id, %dir: the log folder
    // The main thread's kernel id is the process id.
    const QString t = timestamp;
    const QString th = QStringLiteral(" \\[%tid\\] ");
    QTest::newRow("levels, sources, placeholders")
        << "messages" << 0 << QString()
        << QStringList{t + " INFO " + th + "info text" + childSource,
                       t + " WARN " + th + "warning text" + childSource,
                       t + " DEBUG" + th + "debug text" + childSource,
                       t + " CRIT " + th + "critical text" + childSource,
                       t + " INFO " + th + "percent %1 stays" + childSource,
                       t + " WARN " + th + "with file \\(source/file\\.cpp:42\\)",
                       t + " INFO " + th + "no file",
                       t + " TRACE trace %1 text",
                       QString(),
                       QStringLiteral("grüße ✓")};
    QTest::newRow("second initLogging does nothing")
        << "twice" << 0 << QString() << QStringList{timestamp + " TRACE after second init"};
    QTest::newRow("fatal message, then abort")
        << "fatal" << SIGABRT << QString()
        << QStringList{timestamp + " FATAL \\[%tid\\] fatal stop" + childSource,
                       timestamp + " FATAL --- qFatal, aborting ---"};
    QTest::newRow("core dumps registered")
        << "wer" << 0 << "wer 1 1\n"
        << QStringList{timestamp + " INFO  WER LocalDumps for diagchild -> %dir \\(enabled\\)"};
}

void TestLogFile::linesAfterHeader()
{
    QFETCH(QString, scenario);
    QFETCH(int, abortSignal);
    QFETCH(QString, out);
    QFETCH(QStringList, lines);
    QTemporaryDir home;
    const ChildRun run = runChild(scenario, home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, abortSignal ? QProcess::CrashExit : QProcess::NormalExit);
    QCOMPARE(run.exitCode, abortSignal);
    if (!out.isNull())
        QCOMPARE(run.out, out);
    const ChildLog log = readChildLog(home.path(), run.pid);
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    for (QString &line : lines)
        line.replace(QLatin1String("%tid"), QString::number(run.pid, 16))
            .replace(QLatin1String("%dir"), QRegularExpression::escape(childLogDir(home.path())));
    const QString problem = mismatch(log.lines, lines);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    if (!abortSignal)
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err)); // nothing reaches the console
    // None of these is a crash: no dump.
    QCOMPARE(QDir(childLogDir(home.path())).entryList({QStringLiteral("crash-*")}), QStringList());
}

void TestLogFile::pruningAtStartUp_data()
{
    QTest::addColumn<int>("existing");
    QTest::newRow("25 old logs") << 25;
    QTest::newRow("20 old logs") << 20;
}

void TestLogFile::pruningAtStartUp()
{
    QFETCH(int, existing);
    QTemporaryDir home;
    const QString dir = childLogDir(home.path());
    QVERIFY(QDir().mkpath(dir));
    const QDateTime base = QDateTime::currentDateTime().addDays(-10);
    QStringList olds;
    // Old runs whose names sort against their age, then older entries that are not logs.
    for (int i = 0; i < existing; ++i)
        olds << QStringLiteral("updater-20000101-0000%1-1.log").arg(99 - i);
    olds << QStringLiteral("crash-20000101-000000-1.dmp") << QStringLiteral("readme.txt")
         << QStringLiteral("updater.log") << QStringLiteral("updater-x.log.bak");
    QVERIFY(QDir(dir).mkdir(QStringLiteral("updater-dir.log")));
    for (int i = 0; i < olds.size(); ++i) {
        QFile file(dir + QLatin1Char('/') + olds.at(i));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(i < existing ? base.addSecs(i * 3600) : base.addDays(-100),
                                 QFileDevice::FileModificationTime));
    }

    const ChildRun run = runChild(QStringLiteral("quiet"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);

    // The 20 newest old logs stay beside the new one; other files are untouched.
    const QStringList left = QDir(dir).entryList(QDir::Files);
    QCOMPARE(logFiles(dir).size(), qMin(existing, 20) + 1);
    for (int i = 0; i < olds.size(); ++i)
        QVERIFY2(left.contains(olds.at(i)) == (i >= existing - 20), qPrintable(olds.at(i)));
    QCOMPARE(left.filter(QStringLiteral("-%1.log").arg(run.pid)).size(), 1);
    QVERIFY(QFileInfo(dir + QStringLiteral("/updater-dir.log")).isDir());
}

void TestLogFile::unwritableDirectory()
{
    QTemporaryDir home;
    // A file where the vendor folder should be: the log directory can never be created.
    QFile blocker(home.filePath(QStringLiteral("Tovik-Instruments")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const ChildRun run = runChild(QStringLiteral("unwritable"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("alive\n"));
    // No handler was installed, so Qt's own output still has the message.
    QVERIFY2(run.err.contains(QStringLiteral("nowhere to go")), qPrintable(run.err));
    // The child removed the obstacle and started the log again: still nothing may appear.
    QVERIFY(!QFile::exists(blocker.fileName()));
    QDirIterator it(home.path(), {QStringLiteral("*.log")}, QDir::Files,
                    QDirIterator::Subdirectories);
    QVERIFY2(!it.hasNext(), qPrintable(it.next()));
}

void TestLogFile::concurrentWriters()
{
    QTemporaryDir home;
    const ChildRun run = runChild(QStringLiteral("threads"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    const ChildLog log = readChildLog(home.path(), run.pid);
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QCOMPARE(log.lines.size(), 8 * 300);

    // Even line numbers were messages, odd ones traces; each whole and each exactly once.
    const QRegularExpression line(QRegularExpression::anchoredPattern(
        timestamp +
        QStringLiteral(" (?:INFO  \\[([0-9a-f]+)\\]|TRACE) thread (\\d) line (\\d+) "
                       "([a-z]+)(") +
        childSource + QStringLiteral(")?")));
    QSet<QString> seen;
    QSet<QString> threadIds;
    for (const QString &text : log.lines) {
        const QRegularExpressionMatch m = line.match(text);
        QVERIFY2(m.hasMatch(), qPrintable(QStringLiteral("torn line: ") + text));
        const int thread = m.captured(2).toInt();
        const int number = m.captured(3).toInt();
        const bool message = m.hasCaptured(1);
        QCOMPARE(m.captured(4), QString(400, QChar(u'a' + thread)));
        QCOMPARE(number % 2 == 0, message);
        QCOMPARE(m.hasCaptured(5), message);
        if (message)
            threadIds.insert(m.captured(1));
        seen.insert(QStringLiteral("%1/%2").arg(thread).arg(number));
    }
    QCOMPARE(seen.size(), 8 * 300);
    QCOMPARE(threadIds.size(), 8);
    QVERIFY(!threadIds.contains(QString::number(run.pid, 16)));
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
