// A throw-away process for the log tests, which start the log as the program does: initLogging
// works once per process, so every case runs in a child of its own, chosen by argv[1].

#include "CrashCases.h"
#include "diagnostics/CrashHandler.h"
#include "diagnostics/Logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void noCoreFiles()
{
    rlimit limit{};
    getrlimit(RLIMIT_CORE, &limit);
    limit.rlim_cur = 0;
    setrlimit(RLIMIT_CORE, &limit);
}

int writeFromThreads()
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            const QString payload(400, QChar(u'a' + t));
            // The kernel's own id of this thread, for the test to find in the line's thread field.
            const long tid = syscall(SYS_gettid);
            for (int i = 0; i < 300; ++i) {
                if (i % 2 == 0)
                    qInfo("thread %d line %d tid %lx %s", t, i, tid, qPrintable(payload));
                else
                    logTrace(QStringLiteral("thread %1 line %2 %3").arg(t).arg(i).arg(payload));
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
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
        // The core-file limits, soft and hard, this run starts with.
        const rlimit limit{rlim_t(QByteArray(argv[argc - 2]).toULongLong()),
                           rlim_t(QByteArray(argv[argc - 1]).toULongLong())};
        if (argc != 4 || setrlimit(RLIMIT_CORE, &limit) != 0)
            return 4;
        setupWerLocalDumps();
        return 0;
    }

    if (scenario == "offset-change") {
        // A crash, with no log line in between, once the local time's offset has changed.
        while (QDateTime::currentMSecsSinceEpoch() < QByteArray(argv[2]).toLongLong() + 500)
            QThread::msleep(50);
        provokeCrashCase(*findCrashCase("segv"), QDateTime::currentDateTime().offsetFromUtc());
    }
    std::fprintf(stderr, "unknown scenario %s\n", scenario.constData());
    return 3;
}
