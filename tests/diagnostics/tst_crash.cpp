#include "ChildRun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>

class TestCrash : public QObject
{
    Q_OBJECT

private slots:
    void faults_data();
    void faults();
    void terminates_data();
    void terminates();
};

namespace {

// Runs the scenario, which must end by the signal, and checks the lines after the header ("%tid"
// stands for the faulting thread, a final "%dump" for the dump's line). Returns the problem, or
// "" and the dump's text.
QString crashRun(const QString &scenario, int signalNumber, QStringList lines, ChildRun *run,
                 QString *report = nullptr)
{
    QTemporaryDir home;
    *run = runChild(scenario, home.path());
    if (!run->finished || run->exitStatus != QProcess::CrashExit || run->exitCode != signalNumber)
        return QStringLiteral("child ended with %1, %2")
            .arg(int(run->exitStatus))
            .arg(run->exitCode);
    const ChildLog log = readChildLog(home.path(), run->pid);
    if (!log.problem.isEmpty())
        return log.problem;
    const QString dump = QRegularExpression::escape(childLogDir(home.path())) +
                         QStringLiteral("/crash-\\d{8}-\\d{6}-%1\\.dmp").arg(run->pid);
    // The worker's id when the child reports one, else the main thread's, the process id.
    QString tid = childValue(*run, QStringLiteral("worker"));
    if (tid.isEmpty())
        tid = QString::number(run->pid, 16);
    for (QString &line : lines)
        line.replace(QLatin1String("%tid"), tid);
    const bool withDump = lines.last() == QLatin1String("%dump");
    if (withDump)
        lines.last() = timestamp + QStringLiteral(" FATAL minidump written to (%1)").arg(dump);
    if (QString problem = mismatch(log.lines, lines); !problem.isEmpty())
        return problem;
    if (withDump) {
        QFile file(QRegularExpression(lines.last()).match(log.lines.last()).captured(1));
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("no dump at ") + file.fileName();
        *report = QString::fromUtf8(file.readAll());
        return {};
    }
    // Only the directories that stood in the way carry the dump's name.
    const QFileInfoList entries =
        QDir(childLogDir(home.path()))
            .entryInfoList({QStringLiteral("crash-*")}, QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (!entry.isDir())
            return QStringLiteral("a dump file after all: ") + entry.fileName();
    }
    return entries.isEmpty() ? QStringLiteral("nothing stood in the dump's way") : QString();
}

} // namespace

void TestCrash::faults_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("function");

    const QString anyHex = QStringLiteral("[0-9a-f]+");
    const QString access = QStringLiteral("c0000005 (ACCESS_VIOLATION)");
    const QString overflow = QStringLiteral("c00000fd (STACK_OVERFLOW)");
    QTest::newRow("null write, GUI thread") << "segv-main" << SIGSEGV << access << "2a0"
                                            << "diagCrashNullWrite";
    QTest::newRow("null write, worker thread") << "segv-worker" << SIGSEGV << access << "2a0"
                                               << "diagCrashNullWrite";
    QTest::newRow("null write, log lock held") << "segv-locked" << SIGSEGV << access << "2a0"
                                               << "diagCrashNullWrite";
    QTest::newRow("stack overflow, GUI thread")
        << "overflow" << SIGSEGV << overflow << anyHex << "diagCrashRecurse";
    QTest::newRow("stack overflow, worker thread")
        << "overflow-worker" << SIGSEGV << overflow << anyHex << "diagCrashRecurse";
    QTest::newRow("integer division by zero")
        << "divzero" << SIGFPE << "c0000094 (INT_DIVIDE_BY_ZERO)" << anyHex << "diagCrashDivide";
    // Directories where the dump would go: the crash line stays, the dump's line says so.
    QTest::newRow("dump cannot be created") << "segv-nodump" << SIGSEGV << access << "2a0"
                                            << "";
}

void TestCrash::faults()
{
    QFETCH(QString, scenario);
    QFETCH(int, signalNumber);
    QFETCH(QString, code);
    QFETCH(QString, address);
    QFETCH(QString, function);

    ChildRun run;
    QString report;
    const QString problem = crashRun(
        scenario, signalNumber,
        {timestamp + QStringLiteral(" FATAL === CRASH === code=0x%1 address=0x%2 thread=0x%tid")
                         .arg(QRegularExpression::escape(code), address),
         function.isEmpty() ? timestamp + QStringLiteral(" FATAL minidump could NOT be written")
                            : QStringLiteral("%dump")},
        &run, &report);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    if (function.isEmpty())
        return;
    // A worker's fault names the worker's own thread, not the process.
    const bool onWorker = scenario.endsWith(QLatin1String("worker"));
    const QString thread =
        onWorker ? childValue(run, QStringLiteral("worker")) : QString::number(run.pid, 16);
    QVERIFY(!thread.isEmpty() && onWorker != (thread == QString::number(run.pid, 16)));

    QVERIFY(report.startsWith(QStringLiteral("Tovik Updater 9.8.7 crash report\n")));
    for (const QString &line :
         {QStringLiteral("pid %1").arg(run.pid), QStringLiteral("thread 0x") + thread,
          QStringLiteral("signal SIG%1 %2").arg(sigabbrev_np(signalNumber)).arg(signalNumber),
          QStringLiteral("code 0x") + code})
        QVERIFY2(report.contains(QLatin1Char('\n') + line + QLatin1Char('\n')), qPrintable(line));
    QVERIFY(report.contains(QRegularExpression(QStringLiteral("\naddress 0x%1\n").arg(address))));
    QVERIFY(report.contains(
        QRegularExpression(QStringLiteral("\nregisters:\n(  \\w+ 0x[0-9a-f]+\n){8,}"))));
    // The backtrace names the faulting function, below the handler's own frames.
    const qsizetype backtrace = report.indexOf(QStringLiteral("\nbacktrace:\n"));
    const qsizetype maps = report.indexOf(QStringLiteral("\nmaps:\n"));
    QVERIFY(backtrace > 0 && maps > backtrace);
    const QString frames = report.mid(backtrace, maps - backtrace);
    QVERIFY2(frames.contains(QLatin1Char('(') + function + QStringLiteral("+0x")),
             qPrintable(frames));
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
    // Nothing more than the terminate line when the dump cannot be created.
    QTest::newRow("dump cannot be created") << "terminate-nodump"
                                            << "no active exception";
}

void TestCrash::terminates()
{
    QFETCH(QString, scenario);
    QFETCH(QString, reason);
    const bool dumped = !scenario.endsWith(QLatin1String("nodump"));
    QStringList lines = {timestamp + QStringLiteral(" FATAL === std::terminate === ") +
                         QRegularExpression::escape(reason)};
    if (dumped)
        lines << QStringLiteral("%dump");
    ChildRun run;
    QString report;
    const QString problem = crashRun(scenario, SIGABRT, lines, &run, &report);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    if (!dumped)
        return;
    QVERIFY(report.contains(QStringLiteral("\nreason %1\n").arg(reason)));
    QVERIFY(!report.contains(QStringLiteral("\nsignal ")));
    QVERIFY(report.contains(QStringLiteral("terminateHandler")));
}

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
