// A throw-away process for the log and crash tests: initLogging works once per process and the
// crash cases end the process, so every case runs here, chosen by argv[1].

#include "diagnostics/CrashHandler.h"
#include "diagnostics/LogState.h"
#include "diagnostics/Logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <sys/resource.h>
#include <vector>

// The fault functions have external linkage and are never inlined, so the dump's backtrace can
// name them (the executable exports its symbols).
extern "C" {

__attribute__((noinline)) void diagCrashNullWrite()
{
    // 0x2a0 rather than 0: the crash line must carry the address that faulted.
    volatile int *volatile target = reinterpret_cast<volatile int *>(0x2a0);
    *target = 1;
}

// Never set: it only keeps the compiler from proving the recursion endless.
volatile bool diagStopRecursion = false;

__attribute__((noinline)) int diagCrashRecurse(int depth)
{
    if (diagStopRecursion)
        return depth;
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    asm volatile("" ::: "memory");
    return diagCrashRecurse(depth + 1) + frame[0];
}

__attribute__((noinline)) int diagCrashDivide()
{
    volatile int numerator = 7;
    volatile int denominator = 0;
    return numerator / denominator;
}

} // extern "C"

namespace {

void printTid(const char *label)
{
    std::printf("%s %llx\n", label, static_cast<unsigned long long>(currentThreadId()));
    std::fflush(stdout);
}

// Puts directories where this second's and the next seconds' dump files would go.
void blockDumpFiles()
{
    const QString dir = logState().logDir;
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s < 30; ++s)
        QDir().mkpath(QStringLiteral("%1/crash-%2-%3.dmp")
                          .arg(dir, now.addSecs(s).toString(QStringLiteral("yyyyMMdd-HHmmss")))
                          .arg(QCoreApplication::applicationPid()));
}

// Runs the fault here or on a worker thread prepared as the program prepares its own.
template<typename Fault> void crashOn(bool onWorker, Fault fault)
{
    if (!onWorker) {
        printTid("main");
        fault();
        return;
    }
    QThread *worker = QThread::create([fault] {
        prepareThreadForCrashHandling();
        printTid("worker");
        fault();
    });
    worker->setStackSize(1024 * 1024);
    worker->start();
    worker->wait();
}

void noCoreFiles()
{
    rlimit limit{};
    getrlimit(RLIMIT_CORE, &limit);
    limit.rlim_cur = 0;
    setrlimit(RLIMIT_CORE, &limit);
}

int writeFromThreads()
{
    constexpr int threadCount = 8;
    constexpr int linesPerThread = 300;
    std::vector<QThread *> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.push_back(QThread::create([t] {
            const QString payload(400, QChar(u'a' + t));
            for (int i = 0; i < linesPerThread; ++i) {
                if (i % 2 == 0)
                    qInfo("thread %d line %d %s", t, i, qPrintable(payload));
                else
                    logTrace(QStringLiteral("thread %1 line %2 %3").arg(t).arg(i).arg(payload));
            }
        }));
    }
    for (QThread *thread : threads)
        thread->start();
    for (QThread *thread : threads) {
        thread->wait();
        delete thread;
    }
    return 0;
}

int messages()
{
    qInfo("info text");
    qWarning("warning text");
    qDebug("debug text");
    qCritical("critical text");
    qInfo() << "percent %1 stays";
    const QMessageLogContext withFile("source/file.cpp", 42, "function", "category");
    logMessageHandler(QtWarningMsg, withFile, QStringLiteral("with file"));
    const QMessageLogContext noFile;
    logMessageHandler(QtInfoMsg, noFile, QStringLiteral("no file"));
    logTrace(QStringLiteral("trace %1 text"));
    writeLogLine(QString());
    writeLogLine(QStringLiteral("grüße ✓"));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("diagchild"));
    app.setOrganizationName(QStringLiteral("Tovik-Instruments"));
    const QByteArray scenario = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    noCoreFiles();

    initLogging(QStringLiteral("9.8.7"));

    if (scenario == "messages")
        return messages();
    if (scenario == "twice") {
        initLogging(QStringLiteral("1.0.0"));
        logTrace(QStringLiteral("after second init"));
        return 0;
    }
    if (scenario == "quiet")
        return 0;
    if (scenario == "unwritable") {
        // Clear the way; a second start-up must still not try again.
        QFile::remove(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                      QStringLiteral("/Tovik-Instruments"));
        initLogging(QStringLiteral("9.8.7"));
        qWarning("nowhere to go");
        logTrace(QStringLiteral("nowhere either"));
        writeLogLine(QStringLiteral("dropped"));
        setupWerLocalDumps();
        std::printf("alive\n");
        return 0;
    }
    if (scenario == "threads")
        return writeFromThreads();
    if (scenario == "fatal") {
        qFatal("fatal %s", "stop");
        return 0;
    }
    if (scenario == "wer") {
        const bool ok = setupWerLocalDumps();
        rlimit limit{};
        getrlimit(RLIMIT_CORE, &limit);
        std::printf("wer %d %d\n", ok ? 1 : 0, limit.rlim_cur == limit.rlim_max ? 1 : 0);
        return 0;
    }

    // Everything below ends the process.
    if (scenario == "segv-nodump" || scenario == "terminate-nodump")
        blockDumpFiles();
    const bool onWorker = scenario.endsWith("-worker");
    if (scenario.startsWith("segv-")) {
        if (scenario == "segv-locked")
            logState().logMutex.lock(); // as if the fault came from inside writeLogLine
        crashOn(onWorker, [] { diagCrashNullWrite(); });
    } else if (scenario.startsWith("overflow")) {
        crashOn(onWorker, [] { (void)diagCrashRecurse(0); });
    } else if (scenario == "divzero") {
        crashOn(false, [] { (void)diagCrashDivide(); });
    } else if (scenario.startsWith("terminate")) {
        std::terminate();
    } else if (scenario == "throw-std") {
        throw std::runtime_error("boom");
    } else if (scenario == "throw-other") {
        throw 7; // not derived from std::exception
    }
    std::fprintf(stderr, "unknown scenario %s\n", scenario.constData());
    return 3;
}
