#include "ChildRun.h"
#include "CrashCases.h"
#include "diagnostics/CrashFormat.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <cstring>
#include <stdexcept>

// Every case of CrashCases, provoked in the Linux child (native) and in the Windows child under
// Wine (wine: run as tst_crash_wine, label windows); the log's lines and the dump read back.
class TestCrash : public QObject
{
    Q_OBJECT

private slots:
    void texts();
    void native_data() { addCases(OnLinux); }
    void native();
    void wine_data();
    void wine();
    void afterOffsetChange();

private:
    static void addCases(unsigned platform);
};

namespace {

// The children's fault function is shorter than this.
constexpr quint64 faultFunctionReach = 1024;

QString escape(const char *text)
{
    return QRegularExpression::escape(QString::fromLatin1(text));
}

// What the child said and its log named.
struct Seen
{
    QStringList lines; // after the header
    QString thread;
    quint64 function = 0;
    QString address;  // from the crash line
    QString dumpPath; // from the dump's line

    bool inFunction(const QString &at) const
    {
        return at.toULongLong(nullptr, 16) - function < faultFunctionReach;
    }
};

// Empty when the lines are the case's (the dump's name matching dumpName), else the problem.
QString checkLines(const CrashCase &c, const ChildRun &run, const QString &dumpName, Seen &seen)
{
    seen.thread = childValue(run, QStringLiteral("thread"));
    seen.function = childValue(run, QStringLiteral("function")).toULongLong(nullptr, 16);
    QStringList patterns = {
        timestamp + (c.terminates()
                         ? QStringLiteral(" FATAL === std::terminate === ") + escape(c.expected)
                         : QStringLiteral(" FATAL === CRASH === code=0x%1 address="
                                          "0x([0-9a-f]+) thread=0x%2")
                               .arg(escape(c.expected), seen.thread))};
    if (c.dump == Dump::Written)
        patterns << timestamp + QStringLiteral(" FATAL minidump written to (%1)").arg(dumpName);
    else if (!c.terminates())
        patterns << timestamp + QStringLiteral(" FATAL minidump could NOT be written");
    if (seen.thread.isEmpty() || seen.function == 0)
        return QStringLiteral("the child never reached the fault: ") + run.out + run.err;
    if (QString problem = mismatch(seen.lines, patterns); !problem.isEmpty())
        return problem;
    seen.address = QRegularExpression(patterns.first()).match(seen.lines.first()).captured(1);
    seen.dumpPath = QRegularExpression(patterns.last()).match(seen.lines.last()).captured(1);
    return {};
}

// No dump file: only the directories that stood in its way, if any, carry its name.
bool noDumpFile(const QString &dir)
{
    const QFileInfoList entries = QDir(dir).entryInfoList({QStringLiteral("crash-*")},
                                                          QDir::AllEntries | QDir::NoDotAndDotDot);
    return std::all_of(entries.begin(), entries.end(),
                       [](const QFileInfo &e) { return e.isDir(); });
}

} // namespace

void TestCrash::addCases(unsigned platform)
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < crashCaseCount; ++i) {
        if ((crashCases[i].platforms & platform) != 0)
            QTest::newRow(crashCases[i].name) << int(i);
    }
}

void TestCrash::texts()
{
    // Null exception pointers give code and address 0; a line is cut at its buffer's end.
    char line[96];
    formatCrashLine(line, sizeof line, "T", 0, 0, 26);
    QCOMPARE(QByteArray(line),
             "T FATAL === CRASH === code=0x00000000 (unknown) address=0x0 thread=0x1a");
    formatCrashLine(line, 40, "T", 0x1d, 0x2a0, 26);
    QCOMPARE(QByteArray(line), QByteArray("T FATAL === CRASH === code=0x0000001d ("));
    try {
        throw std::logic_error(std::string(200, 'w'));
    } catch (...) {
        QCOMPARE(describeCurrentException(line, 40), std::size_t(39));
    }
    QVERIFY(QByteArray(line).startsWith("std::exception: www"));
    // An abort that glibc's heap checks do not explain is fail-fast, whatever its text names.
    QCOMPARE(crashCodeForAbort("x: a.cpp:3: f: Assertion `free(p)' failed.\n"), 0xC0000409U);
    QCOMPARE(crashCodeForAbort("*** stack smashing detected ***: terminated\n"), 0xC0000409U);
    QCOMPARE(crashCodeForAbort("malloc(): corrupted top size\n"), 0xC0000374U);
}

void TestCrash::native()
{
    QFETCH(int, index);
    const CrashCase &c = crashCases[index];
    QTemporaryDir home;
    const ChildRun run = runChild(QString::fromLatin1(c.name), home.path());
    const bool aborts = c.terminates() || c.fault == Fault::Assert || c.fault == Fault::DoubleFree;
    const int signal = aborts                      ? SIGABRT
                       : c.fault == Fault::Divide  ? SIGFPE
                       : c.fault == Fault::Illegal ? SIGILL
                                                   : SIGSEGV;
    QVERIFY2(run.finished && run.exitStatus == QProcess::CrashExit && run.exitCode == signal,
             qPrintable(run.err));
    const ChildLog log = readChildLog(home.path(), run.pid);
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    const QString dir = childLogDir(home.path());
    Seen seen;
    seen.lines = log.lines;
    const QString problem =
        checkLines(c, run,
                   QRegularExpression::escape(dir) +
                       QStringLiteral("/crash-\\d{8}-\\d{6}-%1\\.dmp").arg(run.pid),
                   seen);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    // The main thread's kernel id is the process id; a worker's is its own. A bad write names
    // the data address, other faults the instruction.
    QCOMPARE(seen.thread == QString::number(run.pid, 16), !c.onWorker);
    if (c.fault == Fault::NullWrite)
        QCOMPARE(seen.address, QStringLiteral("2a0"));
    if (c.fault == Fault::Divide || c.fault == Fault::Illegal)
        QVERIFY2(seen.inFunction(seen.address), qPrintable(seen.address));
    QVERIFY(c.dump == Dump::Written || noDumpFile(dir));
    if (c.dump != Dump::Written)
        return;

    QFile file(seen.dumpPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(file.readAll());
    QVERIFY(
        report.startsWith(QStringLiteral("Tovik Updater 9.8.7 crash report\npid %1\nthread 0x%2\n")
                              .arg(run.pid)
                              .arg(seen.thread)));
    // The reason, or the signal, its code and the registers; glibc's last words before an abort.
    QVERIFY(report.contains(
        c.terminates()
            ? QStringLiteral("\nreason %1\n").arg(c.expected)
            : QStringLiteral("\nsignal SIG%1 %2\nsi_code ").arg(sigabbrev_np(signal)).arg(signal)));
    QCOMPARE(report.contains(QStringLiteral("\ncode 0x%1\n").arg(c.expected)), !c.terminates());
    QCOMPARE(report.contains(
                 QRegularExpression(QStringLiteral("\nregisters:\n(  \\w+ 0x[0-9a-f]+\n){8,}"))),
             !c.terminates());
    QCOMPARE(report.contains(QStringLiteral("\nreason ")), aborts);
    // The frames, raw addresses beside the process map, pass through the faulting function.
    const QString frames = report.section(QStringLiteral("\nmaps:\n"), 0, 0)
                               .section(QStringLiteral("\nbacktrace:\n"), 1);
    QVERIFY(report.section(QStringLiteral("\nmaps:\n"), 1).contains(QStringLiteral("[stack]")));
    bool passes = false;
    for (auto m = QRegularExpression(QStringLiteral("  #\\d+ 0x(\\w+)")).globalMatch(frames);
         m.hasNext();)
        passes = seen.inFunction(m.next().captured(1)) || passes;
    QVERIFY2(passes, qPrintable(frames));
}

void TestCrash::wine_data()
{
    if (qEnvironmentVariableIsEmpty("TOVIK_WINE"))
        QSKIP("the Windows half runs as tst_crash_wine, label windows");
    addCases(OnWindows);
}

void TestCrash::wine()
{
    QFETCH(int, index);
    const CrashCase &c = crashCases[index];
    QTemporaryDir home;
    const QString dir = QStringLiteral("Z:") + home.path(); // Wine's Z: is the root here
    QStringList environment;
    if (c.dump == Dump::NoWriter)
        environment << QStringLiteral("WINEDLLOVERRIDES=dbghelp=d;mscoree,mshtml=");
    const ChildRun run =
        runProgram(qEnvironmentVariable("TOVIK_WINE"),
                   {qEnvironmentVariable("TOVIK_WINCRASH"), QString::fromLatin1(c.name), dir},
                   home.path(), environment);
    // The filter ends the process with the exception's code, whose low byte Wine passes on;
    // abort() exits with 3.
    QVERIFY2(run.finished && run.exitStatus == QProcess::NormalExit &&
                 run.exitCode == (c.terminates() ? 3 : int(c.code() & 0xff)),
             qPrintable(run.err));
    QFile log(home.filePath(QStringLiteral("wincrash.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QCOMPARE(text.count(QLatin1Char('\n')), text.count(QStringLiteral("\r\n"))); // text mode
    Seen seen;
    seen.lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(seen.lines.takeFirst(), QStringLiteral("=== wincrash 9.8.7 ==="));
    QCOMPARE(seen.lines.takeLast(), QString());
    const QString problem = checkLines(
        c, run, QRegularExpression::escape(dir) + QStringLiteral("/crash-\\d{8}-\\d{6}-\\d+\\.dmp"),
        seen);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    // Windows names the instruction that faulted.
    QVERIFY2(c.terminates() || seen.inFunction(seen.address), qPrintable(seen.address));
    QVERIFY(c.dump == Dump::Written || noDumpFile(home.path()));
    if (c.dump != Dump::Written)
        return;

    QFile dump(seen.dumpPath.mid(2));
    QVERIFY(dump.open(QIODevice::ReadOnly));
    const QByteArray bytes = dump.readAll();
    QVERIFY(bytes.startsWith("MDMP"));
    const auto u32 = [&bytes](quint32 at) {
        return at + 4 <= quint32(bytes.size()) ? qFromLittleEndian<quint32>(bytes.constData() + at)
                                               : 0U;
    };
    // The exception stream (type 6) holds the faulting thread and the code; a terminate's dump,
    // written without exception information, has none.
    quint32 exception = 0;
    for (quint32 i = 0, directory = u32(12); i < u32(8); ++i)
        exception = u32(directory + i * 12) == 6 ? u32(directory + i * 12 + 8) : exception;
    QCOMPARE(exception != 0, !c.terminates());
    QVERIFY(c.terminates() || QString::number(u32(exception), 16) == seen.thread);
    QVERIFY(c.terminates() || u32(exception + 8) == c.code());
}

void TestCrash::afterOffsetChange()
{
    // A zone of our own whose summer time, an hour ahead, begins four seconds from now: the child
    // starts before the change and crashes after it, with no log line in between.
    const QDateTime change = QDateTime::currentDateTimeUtc().addSecs(4);
    const QString rule = QStringLiteral("TZ=TST0TDT-1,%1/%2,%3")
                             .arg(change.date().dayOfYear() - 1)
                             .arg(change.time().toString(QStringLiteral("hh:mm:ss")))
                             .arg((change.date().dayOfYear() + 180) % 365);
    QTemporaryDir home;
    const ChildRun run =
        runProgram(QStringLiteral(DIAGCHILD_PATH),
                   {QStringLiteral("offset-change"), QString::number(change.toMSecsSinceEpoch())},
                   home.path(), {rule});
    const QDateTime ended = QDateTime::currentDateTimeUtc();
    const ChildLog log = readChildLog(home.path(), run.pid);
    QVERIFY2(run.exitStatus == QProcess::CrashExit && log.lines.size() == 2,
             qPrintable(log.problem));
    // A local time read back as UTC, less the offset it claims.
    const auto utc = [](const QString &text, const char *format, int offset) {
        QDateTime t = QDateTime::fromString(text, QString::fromLatin1(format));
        t.setTimeSpec(Qt::UTC);
        return t.addSecs(-offset);
    };
    QFile file(log.path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString started = QString::fromUtf8(file.readAll()).section(QLatin1Char('\n'), 1, 1);
    QVERIFY2(utc(started.mid(13), "yyyy-MM-dd HH:mm:ss.zzz", 0) < change, qPrintable(started));
    const QDateTime crashed = utc(log.lines.first().left(23), "yyyy-MM-dd HH:mm:ss.zzz", 3600);
    QVERIFY2(crashed >= change.addMSecs(500) && crashed <= ended, qPrintable(log.lines.first()));
    // The dump's name, cut to the second, carries the new local time as well.
    const QDateTime named = utc(log.lines.last().section(QStringLiteral("/crash-"), 1).left(15),
                                "yyyyMMdd-HHmmss", 3600);
    QVERIFY2(named > change.addSecs(-1) && named <= ended, qPrintable(log.lines.last()));
}

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
