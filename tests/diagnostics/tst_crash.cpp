#include "ChildRun.h"
#include "LogExpect.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using LogExpect::timestamp;

class TestCrash : public QObject
{
    Q_OBJECT

private slots:
    void faults_data();
    void faults();
    void terminates_data();
    void terminates();
    void dumpCannotBeCreated_data();
    void dumpCannotBeCreated();
};

namespace {

struct Outcome
{
    QString logPath;
    QStringList lines; // after the header
    QString problem;
};

Outcome readBack(const QString &home)
{
    Outcome outcome;
    const QString dir = childLogDir(home);
    const QStringList files = logFiles(dir);
    if (files.size() != 1) {
        outcome.problem = QStringLiteral("log files: %1").arg(files.join(','));
        return outcome;
    }
    outcome.logPath = dir + QLatin1Char('/') + files.first();
    const QStringList lines = readLines(outcome.logPath);
    outcome.problem =
        LogExpect::mismatch(lines.mid(0, 8), LogExpect::headerPatterns(outcome.logPath));
    outcome.lines = lines.mid(8);
    return outcome;
}

QString dumpPattern(const QString &home, qint64 pid)
{
    return QRegularExpression::escape(childLogDir(home)) +
           QStringLiteral("/crash-\\d{8}-\\d{6}-%1\\.dmp").arg(pid);
}

QString dumpWrittenLine(const QString &home, qint64 pid)
{
    return timestamp +
           QStringLiteral(" FATAL minidump written to (%1)").arg(dumpPattern(home, pid));
}

} // namespace

void TestCrash::faults_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("function");
    QTest::addColumn<bool>("onWorker");

    const QString anyHex = QStringLiteral("[0-9a-f]+");
    QTest::newRow("null write, GUI thread")
        << "segv-main" << SIGSEGV << "c0000005 (ACCESS_VIOLATION)"
        << "2a0"
        << "diagCrashNullWrite" << false;
    QTest::newRow("null write, worker thread")
        << "segv-worker" << SIGSEGV << "c0000005 (ACCESS_VIOLATION)"
        << "2a0"
        << "diagCrashNullWrite" << true;
    QTest::newRow("null write, log lock held")
        << "segv-locked" << SIGSEGV << "c0000005 (ACCESS_VIOLATION)"
        << "2a0"
        << "diagCrashNullWrite" << false;
    QTest::newRow("stack overflow, GUI thread")
        << "overflow" << SIGSEGV << "c00000fd (STACK_OVERFLOW)" << anyHex << "diagCrashRecurse"
        << false;
    QTest::newRow("stack overflow, worker thread")
        << "overflow-worker" << SIGSEGV << "c00000fd (STACK_OVERFLOW)" << anyHex
        << "diagCrashRecurse" << true;
    QTest::newRow("integer division by zero")
        << "divzero" << SIGFPE << "c0000094 (INT_DIVIDE_BY_ZERO)" << anyHex << "diagCrashDivide"
        << false;
    QTest::newRow("illegal instruction") << "illegal" << SIGILL << "c000001d (ILLEGAL_INSTRUCTION)"
                                         << anyHex << "diagCrashIllegal" << false;
    QTest::newRow("bus error") << "bus" << SIGBUS << "c0000006 (IN_PAGE_ERROR)" << anyHex
                               << "diagCrashBus" << false;
}

void TestCrash::faults()
{
    QFETCH(QString, scenario);
    QFETCH(int, signalNumber);
    QFETCH(QString, code);
    QFETCH(QString, address);
    QFETCH(QString, function);
    QFETCH(bool, onWorker);

    QTemporaryDir home;
    const ChildRun run = runChild(scenario, home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::CrashExit);
    QCOMPARE(run.exitCode, signalNumber);

    const Outcome outcome = readBack(home.path());
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    const QString thread =
        onWorker ? childValue(run, QStringLiteral("worker")) : QString::number(run.pid, 16);
    QVERIFY(!thread.isEmpty());
    if (onWorker)
        QVERIFY(thread != QString::number(run.pid, 16));
    const QStringList expected = {
        timestamp + QStringLiteral(" FATAL === CRASH === code=0x%1 address=0x%2 thread=0x%3")
                        .arg(QRegularExpression::escape(code), address, thread),
        dumpWrittenLine(home.path(), run.pid)};
    const QString problem = LogExpect::mismatch(outcome.lines, expected);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QString dumpPath = QRegularExpression(dumpWrittenLine(home.path(), run.pid))
                                 .match(outcome.lines.at(1))
                                 .captured(1);
    QFile dump(dumpPath);
    QVERIFY2(dump.open(QIODevice::ReadOnly), qPrintable(dumpPath));
    const QString report = QString::fromUtf8(dump.readAll());
    const QString signalName = signalNumber == SIGSEGV  ? QStringLiteral("SIGSEGV")
                               : signalNumber == SIGFPE ? QStringLiteral("SIGFPE")
                               : signalNumber == SIGILL ? QStringLiteral("SIGILL")
                                                        : QStringLiteral("SIGBUS");
    QVERIFY(report.startsWith(QStringLiteral("Tovik Updater 9.8.7 crash report\n")));
    QVERIFY(report.contains(QStringLiteral("\npid %1\n").arg(run.pid)));
    QVERIFY(report.contains(QStringLiteral("\nthread 0x%1\n").arg(thread)));
    QVERIFY(report.contains(QStringLiteral("\nsignal %1 %2\n").arg(signalName).arg(signalNumber)));
    QVERIFY(report.contains(QStringLiteral("\ncode 0x%1\n").arg(code)));
    QVERIFY(QRegularExpression(QStringLiteral("\naddress 0x%1\n").arg(address))
                .match(report)
                .hasMatch());
    QVERIFY(QRegularExpression(QStringLiteral("\nregisters:\n(  \\w+ 0x[0-9a-f]+\n){8,}"))
                .match(report)
                .hasMatch());
    // The backtrace names the faulting function, below the handler's own frames.
    const qsizetype backtrace = report.indexOf(QStringLiteral("\nbacktrace:\n"));
    const qsizetype maps = report.indexOf(QStringLiteral("\nmaps:\n"));
    QVERIFY(backtrace > 0 && maps > backtrace);
    QVERIFY2(report.mid(backtrace, maps - backtrace)
                 .contains(QStringLiteral("(") + function + QStringLiteral("+0x")),
             qPrintable(report.mid(backtrace, maps - backtrace)));
    QVERIFY(report.mid(maps).contains(QStringLiteral("diagchild")));
    QVERIFY(report.mid(maps).contains(QStringLiteral("[stack]")));
}

void TestCrash::terminates_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("reason");
    QTest::newRow("std::terminate, nothing thrown") << "terminate"
                                                    << "no active exception";
    QTest::newRow("uncaught runtime_error") << "throw-std"
                                            << "std::exception: boom";
    QTest::newRow("uncaught non-std exception") << "throw-other"
                                                << "non-std exception";
}

void TestCrash::terminates()
{
    QFETCH(QString, scenario);
    QFETCH(QString, reason);
    QTemporaryDir home;
    const ChildRun run = runChild(scenario, home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::CrashExit);
    QCOMPARE(run.exitCode, SIGABRT);

    const Outcome outcome = readBack(home.path());
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    const QStringList expected = {timestamp + QStringLiteral(" FATAL === std::terminate === ") +
                                      QRegularExpression::escape(reason),
                                  dumpWrittenLine(home.path(), run.pid)};
    const QString problem = LogExpect::mismatch(outcome.lines, expected);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QString dumpPath = QRegularExpression(dumpWrittenLine(home.path(), run.pid))
                                 .match(outcome.lines.at(1))
                                 .captured(1);
    QFile dump(dumpPath);
    QVERIFY(dump.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(dump.readAll());
    QVERIFY(report.contains(QStringLiteral("\nreason %1\n").arg(reason)));
    QVERIFY(!report.contains(QStringLiteral("\nsignal ")));
    QVERIFY(report.contains(QStringLiteral("\nbacktrace:\n")));
    QVERIFY(report.contains(QStringLiteral("terminateHandler")));
    QVERIFY(report.contains(QStringLiteral("\nmaps:\n")));
}

void TestCrash::dumpCannotBeCreated_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("crash")
        << "segv-nodump" << SIGSEGV
        << QStringList{timestamp + QStringLiteral(" FATAL === CRASH === code=0xc0000005 "
                                                  "\\(ACCESS_VIOLATION\\) address=0x2a0 "
                                                  "thread=0x[0-9a-f]+"),
                       timestamp + QStringLiteral(" FATAL minidump could NOT be written")};
    QTest::newRow("terminate")
        << "terminate-nodump" << SIGABRT
        << QStringList{timestamp +
                       QStringLiteral(" FATAL === std::terminate === no active exception")};
}

void TestCrash::dumpCannotBeCreated()
{
    QFETCH(QString, scenario);
    QFETCH(int, signalNumber);
    QFETCH(QStringList, after);
    QTemporaryDir home;
    const ChildRun run = runChild(scenario, home.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::CrashExit);
    QCOMPARE(run.exitCode, signalNumber);
    const Outcome outcome = readBack(home.path());
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    const QString problem = LogExpect::mismatch(outcome.lines, after);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    // Only the directories that stood in the way carry the dump's name.
    const QFileInfoList entries =
        QDir(childLogDir(home.path()))
            .entryInfoList({QStringLiteral("crash-*")}, QDir::AllEntries | QDir::NoDotAndDotDot);
    QVERIFY(!entries.isEmpty());
    for (const QFileInfo &entry : entries)
        QVERIFY2(entry.isDir(), qPrintable(entry.fileName()));
}

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
