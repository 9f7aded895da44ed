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
#include <sys/resource.h>

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
    QTest::addColumn<QStringList>("lines"); // %tid: the main thread's id, %home: its folder
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
    // The core-file limit raised to the hard one, and where the kernel's pattern puts cores.
    QFile file(QStringLiteral("/proc/sys/kernel/core_pattern"));
    const QString pattern = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QString();
    const auto escape = [](const QString &text) {
        return QRegularExpression::escape(text);
    };
    const QString cores = pattern.startsWith(QLatin1Char('|'))
                              ? QStringLiteral("piped to ") + escape(pattern.mid(1))
                          : pattern.startsWith(QLatin1Char('/')) ? escape(pattern)
                                                                 : "%home/" + escape(pattern);
    rlimit limit{};
    getrlimit(RLIMIT_CORE, &limit);
    QTest::newRow("core dumps registered")
        << "wer" << 0 << QString()
        << QStringList{timestamp + " INFO  core dumps for diagchild -> " + cores + " \\(limit " +
                       (limit.rlim_max == RLIM_INFINITY ? QStringLiteral("unlimited")
                                                        : QString::number(limit.rlim_max)) +
                       (limit.rlim_max != 0 ? ", enabled" : ", FAILED") + "\\)"};
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
            .replace(QLatin1String("%home"), QRegularExpression::escape(home.path()));
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
    QVERIFY(run.finished && run.exitCode == 0);
    const ChildLog log = readChildLog(home.path(), run.pid);
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    // Messages and traces from eight threads at once: every line whole, and each once.
    const QRegularExpression whole(QRegularExpression::anchoredPattern(
        timestamp +
        QStringLiteral(" (?:INFO  \\[[0-9a-f]+\\] |TRACE )thread (\\d) line (\\d+) "
                       "([a-z])\\3{399}(?:") +
        childSource + QStringLiteral(")?")));
    QSet<QString> seen;
    for (const QString &text : log.lines) {
        const QRegularExpressionMatch m = whole.match(text);
        QVERIFY2(m.hasMatch() && m.captured(3) == QChar(u'a' + m.captured(1).toInt()),
                 qPrintable(text));
        seen.insert(m.captured(1) + QLatin1Char('/') + m.captured(2));
    }
    QCOMPARE(seen.size(), 8 * 300);
    QCOMPARE(log.lines.size(), 8 * 300);
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
