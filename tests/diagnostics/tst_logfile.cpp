#include "ChildRun.h"
#include "LogExpect.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using LogExpect::timestamp;

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void messageLines();
    void secondInitDoesNothing();
    void pruningAtStartUp_data();
    void pruningAtStartUp();
    void unwritableDirectory();
    void concurrentWriters();
    void fatalMessage();
    void localDumpRegistration();
    void noRegistrationWithoutExecutableName();
};

namespace {

const QString childSource = QStringLiteral(" \\(\\S*diagchild\\.cpp:\\d+\\)");

// The one log file of a finished child, its path in *path.
QStringList onlyLog(const QString &home, qint64 pid, QString *path)
{
    const QString dir = childLogDir(home);
    const QStringList files = logFiles(dir);
    if (files.size() != 1)
        return {};
    *path = dir + QLatin1Char('/') + files.first();
    if (!QRegularExpression(QStringLiteral("^updater-\\d{8}-\\d{6}-%1\\.log$").arg(pid))
             .match(files.first())
             .hasMatch())
        return {};
    return readLines(*path);
}

} // namespace

void TestLogFile::messageLines()
{
    QTemporaryDir home;
    const ChildRun run = runChild(QStringLiteral("messages"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QString path;
    const QStringList lines = onlyLog(home.path(), run.pid, &path);
    QVERIFY2(!lines.isEmpty(), qPrintable(logFiles(childLogDir(home.path())).join(',')));

    // The main thread's kernel id is the process id.
    const QString tid = QString::number(run.pid, 16);
    QCOMPARE(childValue(run, QStringLiteral("main")), tid);
    const QString t = timestamp;
    const QString th = QStringLiteral(" \\[%1\\] ").arg(tid);
    QStringList expected = LogExpect::headerPatterns(path);
    expected << t + " INFO " + th + "info text" + childSource
             << t + " WARN " + th + "warning text" + childSource
             << t + " DEBUG" + th + "debug text" + childSource
             << t + " CRIT " + th + "critical text" + childSource
             << t + " INFO " + th + "percent %1 stays" + childSource
             << t + " WARN " + th + "with file \\(source/file\\.cpp:42\\)"
             << t + " INFO " + th + "no file" << t + " INFO " + th + "odd type"
             << t + " TRACE trace %1 text" << QString() << QStringLiteral("grüße ✓");
    const QString problem = LogExpect::mismatch(lines, expected);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    for (qsizetype i = 8; i < 16; ++i)
        QCOMPARE(lines.at(i).indexOf(QLatin1Char('[')), 30);
    QFile raw(path);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.endsWith("grüße ✓\n"));
    QVERIFY(bytes.contains("trace %1 text\n\ngr"));
    QVERIFY(!bytes.contains('\r'));
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err)); // nothing reaches the console
}

void TestLogFile::secondInitDoesNothing()
{
    QTemporaryDir home;
    const ChildRun run = runChild(QStringLiteral("twice"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QString path;
    const QStringList lines = onlyLog(home.path(), run.pid, &path);
    QStringList expected = LogExpect::headerPatterns(path);
    expected << timestamp + " TRACE after second init";
    const QString problem = LogExpect::mismatch(lines, expected);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestLogFile::pruningAtStartUp_data()
{
    QTest::addColumn<int>("existing");
    QTest::addColumn<int>("remaining");
    QTest::newRow("25 old logs") << 25 << 21;
    QTest::newRow("20 old logs") << 20 << 21;
    QTest::newRow("2 old logs") << 2 << 3;
    QTest::newRow("first run") << 0 << 1;
}

void TestLogFile::pruningAtStartUp()
{
    QFETCH(int, existing);
    QFETCH(int, remaining);
    QTemporaryDir home;
    const QString dir = childLogDir(home.path());
    QVERIFY(QDir().mkpath(dir));
    const QDateTime base = QDateTime::currentDateTime().addDays(-10);
    QStringList olds;
    for (int i = 0; i < existing; ++i) {
        // Old runs whose names sort against their age.
        const QString name = QStringLiteral("updater-20000101-0000%1-1.log").arg(99 - i);
        QFile file(dir + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(base.addSecs(i * 3600), QFileDevice::FileModificationTime));
        olds << name;
    }
    const QStringList others = {QStringLiteral("crash-20000101-000000-1.dmp"),
                                QStringLiteral("readme.txt")};
    for (const QString &name : others) {
        QFile file(dir + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(base.addDays(-100), QFileDevice::FileModificationTime));
    }

    const ChildRun run = runChild(QStringLiteral("quiet"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);

    const QStringList left = logFiles(dir);
    QCOMPARE(left.size(), remaining);
    const int deleted = qMax(0, existing - 20);
    for (int i = 0; i < existing; ++i)
        QCOMPARE(left.contains(olds.at(i)), i >= deleted);
    QCOMPARE(left.filter(QStringLiteral("-%1.log").arg(run.pid)).size(), 1);
    for (const QString &name : others)
        QVERIFY(QFile::exists(dir + QLatin1Char('/') + name));
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
    QString path;
    const QStringList lines = onlyLog(home.path(), run.pid, &path);
    QCOMPARE(lines.size(), 8 + 8 * 300);
    const QString problem = LogExpect::mismatch(lines.mid(0, 8), LogExpect::headerPatterns(path));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QRegularExpression message(QRegularExpression::anchoredPattern(
        timestamp + QStringLiteral(" INFO  \\[([0-9a-f]+)\\] thread (\\d) line (\\d+) ([a-z]+)") +
        childSource));
    const QRegularExpression trace(QRegularExpression::anchoredPattern(
        timestamp + QStringLiteral(" TRACE thread (\\d) line (\\d+) ([a-z]+)")));
    QSet<QString> seen;
    QSet<QString> threadIds;
    for (qsizetype i = 8; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        QRegularExpressionMatch m = message.match(line);
        int first = 2;
        if (m.hasMatch()) {
            threadIds.insert(m.captured(1));
        } else {
            m = trace.match(line);
            first = 1;
        }
        QVERIFY2(m.hasMatch(), qPrintable(QStringLiteral("torn line %1: %2").arg(i).arg(line)));
        const int thread = m.captured(first).toInt();
        const int number = m.captured(first + 1).toInt();
        QCOMPARE(m.captured(first + 2), QString(400, QChar(u'a' + thread)));
        QCOMPARE(number % 2 == 0, first == 2); // even lines were messages, odd ones traces
        const QString key = QStringLiteral("%1/%2").arg(thread).arg(number);
        QVERIFY2(!seen.contains(key), qPrintable(key));
        seen.insert(key);
    }
    QCOMPARE(seen.size(), 8 * 300);
    QCOMPARE(threadIds.size(), 8);
    QVERIFY(!threadIds.contains(QString::number(run.pid, 16)));
}

void TestLogFile::fatalMessage()
{
    QTemporaryDir home;
    const ChildRun run = runChild(QStringLiteral("fatal"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::CrashExit);
    QCOMPARE(run.exitCode, SIGABRT);
    QString path;
    const QStringList lines = onlyLog(home.path(), run.pid, &path);
    QStringList expected = LogExpect::headerPatterns(path);
    expected << timestamp + QStringLiteral(" FATAL \\[%1\\] fatal stop").arg(run.pid, 0, 16) +
                    childSource
             << timestamp + QStringLiteral(" FATAL --- qFatal, aborting ---");
    const QString problem = LogExpect::mismatch(lines, expected);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    // An abort is not a crash: no dump.
    QCOMPARE(QDir(childLogDir(home.path())).entryList({QStringLiteral("crash-*")}), QStringList());
}

void TestLogFile::localDumpRegistration()
{
    QTemporaryDir home;
    const ChildRun run = runChild(QStringLiteral("wer"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("wer 1 1\n"));
    QString path;
    const QStringList lines = onlyLog(home.path(), run.pid, &path);
    QStringList expected = LogExpect::headerPatterns(path);
    expected << timestamp + QStringLiteral(" INFO  WER LocalDumps for diagchild -> ") +
                    QRegularExpression::escape(childLogDir(home.path())) +
                    QStringLiteral(" \\(enabled\\)");
    const QString problem = LogExpect::mismatch(lines, expected);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestLogFile::noRegistrationWithoutExecutableName()
{
    QTemporaryDir home;
    const ChildRun run = runChild(QStringLiteral("wer-without-app"), home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("wer 0\n"));
    QString path;
    const QStringList lines = onlyLog(home.path(), run.pid, &path);
    QVERIFY(!lines.isEmpty());
    // Qt's own complaint about the missing application object is the only line after the header.
    QStringList expected = LogExpect::headerPatterns(path);
    expected << timestamp +
                    QStringLiteral(" WARN  \\[%1\\] QCoreApplication::applicationFilePath: .*")
                        .arg(run.pid, 0, 16);
    const QString problem = LogExpect::mismatch(lines, expected);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
