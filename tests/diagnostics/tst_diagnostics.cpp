#include "CrashCases.h"
#include "diagnostics/CrashFormat.h"
#include "diagnostics/LogFormat.h"
#include "tests/support/ChildRun.h"
#include "tests/support/Files.h"

#include <QtTest>

#include <csignal>
#include <cstring>

// The log file and the crash handlers, each case in a throw-away child: diagchild for the log
// (the program's start-up), crashchild for the crash cases, native or under Wine (the wine rows
// run as tst_crash_wine, label windows).
class TestDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    void linesAfterHeader_data();
    void linesAfterHeader();
    void pruningAtStartUp();
    void unwritableDirectory();
    void concurrentWriters();
    void crashTexts();
    void native_data() { addCases(OnLinux); }
    void native() { crash(false); }
    void wine_data();
    void wine() { crash(true); }
    void afterOffsetChange();

private:
    static void addCases(unsigned platform);
    static void crash(bool underWine);
};

namespace {

const QString timestamp = QStringLiteral("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}");
const QString childSource = QStringLiteral(" \\(\\S*diagchild\\.cpp:\\d+\\)");
// crashchild's fault function is shorter than this.
constexpr quint64 faultFunctionReach = 1024;

QString escape(const QString &text)
{
    return QRegularExpression::escape(text);
}

ChildRun runDiagChild(const QString &scenario, const QString &home, const QStringList &env = {})
{
    return runChild(QStringLiteral(DIAGCHILD_PATH), scenario.split(QLatin1Char(' ')), home, env);
}

QStringList logFiles(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("updater-*.log")}, QDir::Files, QDir::Name);
}

// Empty if the lines match the patterns, one each (anchored); else what differs.
QString mismatch(const QStringList &lines, const QStringList &patterns)
{
    const QString text = lines.join(QLatin1Char('\n'));
    const QRegularExpression expected(
        QRegularExpression::anchoredPattern(patterns.join(QLatin1Char('\n'))));
    return expected.match(text).hasMatch() ? QString()
                                           : "got:\n" + text + "\nexpected:\n" + expected.pattern();
}

// The one log file that diagchild's run left: its lines after the header, the header checked.
struct Log
{
    QString path;
    QStringList lines;
    QString problem;
};

Log childLog(const QString &home, qint64 pid)
{
    Log log;
    const QStringList files = logFiles(logDirectory(home));
    log.path = logDirectory(home) + QLatin1Char('/') + files.value(0);
    QFile file(log.path);
    if (files.size() != 1 ||
        !files.first().contains(
            QRegularExpression(QStringLiteral("^updater-\\d{8}-\\d{6}-%1\\.log$").arg(pid))) ||
        !file.open(QIODevice::ReadOnly)) {
        log.problem = QStringLiteral("log files: ") + files.join(QLatin1Char(','));
        return log;
    }
    log.lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    // Eight header lines with their values from the 14th column; every line ends in a line end.
    log.problem = mismatch(
        log.lines.mid(0, 8) << log.lines.last(),
        {QStringLiteral("=== Tovik Updater 9\\.8\\.7 ==="),
         QStringLiteral("started      ") + timestamp, QStringLiteral("os           .+ \\(.+\\)"),
         QStringLiteral("build arch   \\S+"), QStringLiteral("host arch    \\S+"),
         QStringLiteral("qt runtime   ") + escape(QString::fromLatin1(qVersion())),
         QStringLiteral("log file     ") + escape(log.path), QString(), QString()});
    log.lines = log.lines.mid(8, log.lines.size() - 9);
    return log;
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

void TestDiagnostics::linesAfterHeader_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("abortSignal");   // 0: a normal exit with 0
    QTest::addColumn<QStringList>("lines"); // %tid: the main thread's id
    // The main thread's kernel id is the process id.
    const QString t = timestamp;
    const QString th = QStringLiteral(" \\[%tid\\] ");
    QTest::newRow("levels, sources, placeholders")
        << "messages" << 0
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
        << "twice" << 0 << QStringList{t + " TRACE after second init"};
    // Our own abort after the fatal line: no crash line, no dump.
    QTest::newRow("fatal message, then abort")
        << "fatal" << SIGABRT
        << QStringList{t + " FATAL \\[%tid\\] fatal stop" + childSource,
                       t + " FATAL --- qFatal, aborting ---"};
    // Only a collector in the kernel's core pattern ("|program") has the limit raised to the
    // hard one; any other would fill the working folder, so the limit stays as the run found it.
    QFile file(QStringLiteral("/proc/sys/kernel/core_pattern"));
    const bool collector = file.open(QIODevice::ReadOnly) && file.read(1) == "|";
    const auto registered = [&](const char *limits, const char *raised, const char *asFound) {
        QTest::addRow("core dumps, limits %s", limits)
            << QStringLiteral("wer ") + limits << 0
            << QStringList{t + " INFO  core dumps for diagchild -> \\S.* \\(limit " +
                           escape(collector ? raised : asFound) + "\\)"};
    };
    registered("0 0", "0, FAILED", "0, left as found: no collector takes them");
    registered("4096 8192", "8192, enabled", "4096, left as found: no collector takes them");
}

void TestDiagnostics::linesAfterHeader()
{
    QFETCH(QString, scenario);
    QFETCH(int, abortSignal);
    QFETCH(QStringList, lines);
    QTemporaryDir home;
    const ChildRun child = runDiagChild(scenario, home.path());
    QVERIFY(child.finished &&
            child.status == (abortSignal ? QProcess::CrashExit : QProcess::NormalExit));
    QCOMPARE(child.code, abortSignal);
    const Log log = childLog(home.path(), child.pid);
    for (QString &line : lines)
        line.replace(QLatin1String("%tid"), QString::number(child.pid, 16));
    const QString problem = log.problem.isEmpty() ? mismatch(log.lines, lines) : log.problem;
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    // Nothing reaches the console, but why the program ended.
    QVERIFY2(abortSignal ? child.err.contains(QStringLiteral("fatal stop")) : child.err.isEmpty(),
             qPrintable(child.err));
    QCOMPARE(QDir(logDirectory(home.path())).entryList({QStringLiteral("crash-*")}), QStringList());
}

void TestDiagnostics::pruningAtStartUp()
{
    for (const int existing : {25, 20}) {
        QTemporaryDir home;
        const QString dir = logDirectory(home.path());
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/updater-dir.log")));
        // Old runs whose names sort against their age, then older entries that are not logs.
        QStringList olds;
        for (int i = 0; i < existing; ++i)
            olds << QStringLiteral("updater-20000101-0000%1-1.log").arg(99 - i);
        olds << QStringLiteral("crash-20000101-000000-1.dmp") << QStringLiteral("readme.txt")
             << QStringLiteral("updater.log") << QStringLiteral("updater-x.log.bak");
        const QDateTime base = QDateTime::currentDateTime().addDays(-10);
        for (int i = 0; i < olds.size(); ++i) {
            QFile file(dir + QLatin1Char('/') + olds.at(i));
            QVERIFY(file.open(QIODevice::WriteOnly) &&
                    file.setFileTime(i < existing ? base.addSecs(i * 3600) : base.addDays(-100),
                                     QFileDevice::FileModificationTime));
        }
        const ChildRun child = runDiagChild(QStringLiteral("quiet"), home.path());
        QVERIFY(child.finished && child.code == 0);
        // The 20 newest old logs stay beside the new one; other files are untouched.
        const QStringList left = QDir(dir).entryList(QDir::Files);
        QCOMPARE(logFiles(dir).size(), qMin(existing, 20) + 1);
        for (int i = 0; i < olds.size(); ++i)
            QVERIFY2(left.contains(olds.at(i)) == (i >= existing - 20), qPrintable(olds.at(i)));
        QCOMPARE(left.filter(QStringLiteral("-%1.log").arg(child.pid)).size(), 1);
        QVERIFY(QFileInfo(dir + QStringLiteral("/updater-dir.log")).isDir());
    }
}

void TestDiagnostics::unwritableDirectory()
{
    QTemporaryDir home;
    // A file where the vendor folder should be: the log directory can never be created.
    const QString blocker = home.filePath(QStringLiteral("Tovik-Instruments"));
    QVERIFY(writeFile(blocker, QByteArray()));
    const QString temp = home.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(temp));
    const ChildRun child =
        runDiagChild(QStringLiteral("unwritable"), home.path(), {"TMPDIR=" + temp});
    QVERIFY(child.finished && child.status == QProcess::NormalExit && child.code == 0);
    QCOMPARE(child.out, QStringLiteral("alive\n"));
    // Said where the user sees it, and the log went below the temporary folder instead.
    const QString fallback = logFileOf(logDirectory(temp), child.pid);
    QVERIFY2(child.err.contains("cannot be written; this run logs to " + fallback),
             qPrintable(child.err));
    QVERIFY(readLog(fallback).contains(QStringLiteral("nowhere to go")));
    // The child removed the obstacle and started the log again: no other log may appear.
    QVERIFY(!QFile::exists(blocker));
    QDirIterator it(home.path(), {QStringLiteral("*.log")}, QDir::Files,
                    QDirIterator::Subdirectories);
    QCOMPARE(it.next(), fallback);
    QVERIFY2(!it.hasNext(), qPrintable(it.next()));
}

void TestDiagnostics::concurrentWriters()
{
    QTemporaryDir home;
    const ChildRun child = runDiagChild(QStringLiteral("threads"), home.path());
    QVERIFY(child.finished && child.code == 0);
    const Log log = childLog(home.path(), child.pid);
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    // Messages and traces from eight threads at once: every line whole, and each once; a
    // message's thread field is the id the kernel gave its thread, which is not the main one.
    const QRegularExpression whole(QRegularExpression::anchoredPattern(
        timestamp +
        QStringLiteral(" (?:INFO  \\[([0-9a-f]+)\\] |TRACE )thread (\\d) line (\\d+) (?:tid "
                       "(\\1) )?([a-z])\\5{399}(?:") +
        childSource + QStringLiteral(")?")));
    QSet<QString> seen;
    for (const QString &text : log.lines) {
        const QRegularExpressionMatch m = whole.match(text);
        QVERIFY2(m.hasMatch() && m.captured(5) == QChar(u'a' + m.captured(2).toInt()) &&
                     m.captured(1) == m.captured(4) &&
                     m.captured(1) != QString::number(child.pid, 16),
                 qPrintable(text));
        seen.insert(m.captured(2) + QLatin1Char('/') + m.captured(3));
    }
    QCOMPARE(seen.size(), 8 * 300);
    QCOMPARE(log.lines.size(), 8 * 300);
}

void TestDiagnostics::crashTexts()
{
    // Null exception pointers give code and address 0; a line is cut at its buffer's end.
    char line[96];
    formatCrashLine(line, sizeof line, "T", 0, 0, 26);
    QCOMPARE(QByteArray(line),
             "T FATAL === CRASH === code=0x00000000 (unknown) address=0x0 thread=0x1a");
    formatCrashLine(line, 40, "T", 0x1d, 0x2a0, 26);
    QCOMPARE(QByteArray(line), QByteArray("T FATAL === CRASH === code=0x0000001d ("));
    // An abort that glibc's heap checks do not explain is fail-fast, whatever its text names.
    QCOMPARE(crashCodeForAbort("x: a.cpp:3: f: Assertion `free(p)' failed.\n"), 0xC0000409U);
    QCOMPARE(crashCodeForAbort("*** stack smashing detected ***: terminated\n"), 0xC0000409U);
    // Where the kernel puts a core file by its core pattern, from the working folder /w.
    const char *const locations[][2] = {{"|/usr/lib/collect %P", "piped to /usr/lib/collect %P"},
                                        {"core.%p", "/w/core.%p"},
                                        {"/var/crash/%e", "/var/crash/%e"},
                                        {"", "unknown"}};
    for (const auto &[pattern, location] : locations)
        QCOMPARE(coreDumpLocation(QString::fromLatin1(pattern), QStringLiteral("/w")),
                 QString::fromLatin1(location));
}

void TestDiagnostics::addCases(unsigned platform)
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < crashCaseCount; ++i) {
        if ((crashCases[i].platforms & platform) != 0)
            QTest::newRow(crashCases[i].name) << int(i);
    }
}

void TestDiagnostics::wine_data()
{
    if (qEnvironmentVariableIsEmpty("TOVIK_WINE"))
        QSKIP("the Windows half runs as tst_crash_wine, label windows");
    addCases(OnWindows);
}

void TestDiagnostics::crash(bool underWine)
{
    QFETCH(int, index);
    const CrashCase &c = crashCases[index];
    QTemporaryDir home;
    const QString dir =
        underWine ? QStringLiteral("Z:") + home.path() : home.path(); // Wine's Z: is /
    const QStringList args = {QString::fromLatin1(c.name), dir};
    const ChildRun child =
        underWine
            ? runChild(qEnvironmentVariable("TOVIK_WINE"),
                       QStringList{qEnvironmentVariable("TOVIK_CRASHCHILD")} + args, home.path(),
                       c.dump == Dump::NoWriter
                           ? QStringList{QStringLiteral("WINEDLLOVERRIDES=dbghelp=d")}
                           : QStringList())
            : runChild(QStringLiteral(CRASHCHILD_PATH), args, home.path());
    // Under Wine the filter ends the process with the exception's code, whose low byte Wine
    // passes on, and abort() exits with 3; here the signal ends it.
    const bool aborts = c.terminates() || c.fault == Fault::Assert || c.fault == Fault::DoubleFree;
    const int signal = aborts                      ? SIGABRT
                       : c.fault == Fault::Divide  ? SIGFPE
                       : c.fault == Fault::Illegal ? SIGILL
                                                   : SIGSEGV;
    QVERIFY2(child.finished &&
                 child.status == (underWine ? QProcess::NormalExit : QProcess::CrashExit),
             qPrintable(child.err));
    QCOMPARE(child.code, underWine ? (c.terminates() ? 3 : int(c.code() & 0xff)) : signal);

    // The log: a header line, then the case's lines, ended in CR LF on Windows (text mode).
    QFile log(home.filePath(QStringLiteral("crashchild.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QCOMPARE(text.count(QStringLiteral("\r\n")), underWine ? text.count(QLatin1Char('\n')) : 0);
    QStringList lines = QString(text).remove(QLatin1Char('\r')).split(QLatin1Char('\n'));
    QCOMPARE(lines.takeFirst(), QStringLiteral("=== crashchild 9.8.7 ==="));
    QCOMPARE(lines.takeLast(), QString());
    const QString thread = child.value("thread");
    const quint64 function = child.value("function").toULongLong(nullptr, 16);
    const auto inFunction = [function](const QString &at) {
        return at.toULongLong(nullptr, 16) - function < faultFunctionReach;
    };
    QStringList patterns = {
        timestamp +
        (c.terminates()
             ? QStringLiteral(" FATAL === std::terminate === ") +
                   escape(QString::fromLatin1(c.expected))
             : QStringLiteral(" FATAL === CRASH === code=0x%1 address=0x([0-9a-f]+) thread=0x%2")
                   .arg(escape(QString::fromLatin1(c.expected)), thread))};
    if (c.dump == Dump::Written)
        patterns << timestamp + QStringLiteral(
                                    " FATAL minidump written to (%1/crash-\\d{8}-\\d{6}-%2\\.dmp)")
                                    .arg(escape(dir), underWine ? QStringLiteral("\\d+")
                                                                : QString::number(child.pid));
    else if (!c.terminates())
        patterns << timestamp + QStringLiteral(" FATAL minidump could NOT be written");
    const QString problem = mismatch(lines, patterns);
    QVERIFY2(!thread.isEmpty() && problem.isEmpty(), qPrintable(problem + child.out + child.err));
    // Windows names the instruction that faulted; Linux a bad write's data address, and the
    // instruction for the others it knows.
    const QString address = QRegularExpression(patterns.first()).match(lines.first()).captured(1);
    if (!c.terminates() && (underWine || c.fault == Fault::Divide || c.fault == Fault::Illegal))
        QVERIFY2(inFunction(address), qPrintable(address));
    QVERIFY(underWine || c.fault != Fault::NullWrite || address == QStringLiteral("2a0"));
    // The main thread's kernel id is the process id; a worker's is its own.
    QVERIFY(underWine || (thread == QString::number(child.pid, 16)) != c.onWorker);
    QVERIFY(c.dump == Dump::Written || noDumpFile(home.path()));
    if (c.dump != Dump::Written)
        return;

    QFile dump(QRegularExpression(patterns.last())
                   .match(lines.last())
                   .captured(1)
                   .remove(QRegularExpression(QStringLiteral("^Z:"))));
    QVERIFY(dump.open(QIODevice::ReadOnly));
    const QByteArray bytes = dump.readAll();
    if (underWine) {
        // A minidump whose exception stream (type 6) holds the faulting thread and the code; a
        // terminate's dump, written without exception information, has none.
        QVERIFY(bytes.startsWith("MDMP"));
        const auto u32 = [&bytes](quint32 at) {
            return at + 4 <= quint32(bytes.size())
                       ? qFromLittleEndian<quint32>(bytes.constData() + at)
                       : 0U;
        };
        quint32 exception = 0;
        for (quint32 i = 0, directory = u32(12); i < u32(8); ++i)
            exception = u32(directory + i * 12) == 6 ? u32(directory + i * 12 + 8) : exception;
        QCOMPARE(exception != 0, !c.terminates());
        QVERIFY(c.terminates() ||
                (QString::number(u32(exception), 16) == thread && u32(exception + 8) == c.code()));
        return;
    }
    // Our report: the thread, the reason or the code, glibc's last words before an abort, and
    // frames (raw addresses beside the process map) through the function that faulted.
    const QString report = QString::fromUtf8(bytes);
    QVERIFY(
        report.startsWith(QStringLiteral("Tovik Updater 9.8.7 crash report\npid %1\nthread 0x%2\n")
                              .arg(child.pid)
                              .arg(thread)));
    QVERIFY(report.contains(
        (c.terminates() ? QStringLiteral("\nreason %1\n") : QStringLiteral("\ncode 0x%1\n"))
            .arg(c.expected)));
    QCOMPARE(report.contains(QStringLiteral("\nreason ")), aborts);
    const QString frames = report.section(QStringLiteral("\nbacktrace:\n"), 1);
    bool passes = false;
    for (auto m = QRegularExpression(QStringLiteral("  #\\d+ 0x(\\w+)\n")).globalMatch(frames);
         m.hasNext();)
        passes = inFunction(m.next().captured(1)) || passes;
    QVERIFY2(passes && frames.contains(QStringLiteral("\nmaps:\n")), qPrintable(frames.left(2000)));
}

void TestDiagnostics::afterOffsetChange()
{
    // A zone of our own whose summer time, an hour ahead, begins four seconds from now: the
    // program's own start-up runs before the change, the crash after it, no log line between.
    const QDateTime change = QDateTime::currentDateTimeUtc().addSecs(4);
    const QString rule = QStringLiteral("TZ=TST0TDT-1,%1/%2,%3")
                             .arg(change.date().dayOfYear() - 1)
                             .arg(change.time().toString(QStringLiteral("hh:mm:ss")))
                             .arg((change.date().dayOfYear() + 180) % 365);
    QTemporaryDir home;
    const ChildRun child =
        runDiagChild(QStringLiteral("offset-change ") + QString::number(change.toMSecsSinceEpoch()),
                     home.path(), {rule});
    const QDateTime ended = QDateTime::currentDateTimeUtc();
    const Log log = childLog(home.path(), child.pid);
    QVERIFY2(child.status == QProcess::CrashExit && log.lines.size() == 2, qPrintable(log.problem));
    // A local time read back as UTC, less the offset it claims.
    const auto utc = [](const QString &text, const char *format, int offset) {
        QDateTime t = QDateTime::fromString(text, QString::fromLatin1(format));
        t.setTimeSpec(Qt::UTC);
        return t.addSecs(-offset);
    };
    const QString started = readLog(log.path).section(QLatin1Char('\n'), 1, 1);
    QVERIFY2(utc(started.mid(13), "yyyy-MM-dd HH:mm:ss.zzz", 0) < change, qPrintable(started));
    const QDateTime crashed = utc(log.lines.first().left(23), "yyyy-MM-dd HH:mm:ss.zzz", 3600);
    QVERIFY2(crashed >= change.addMSecs(500) && crashed <= ended, qPrintable(log.lines.first()));
    // The dump's name, cut to the second, carries the new local time as well.
    const QDateTime named = utc(log.lines.last().section(QStringLiteral("/crash-"), 1).left(15),
                                "yyyyMMdd-HHmmss", 3600);
    QVERIFY2(named > change.addSecs(-1) && named <= ended, qPrintable(log.lines.last()));
}

QTEST_GUILESS_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
