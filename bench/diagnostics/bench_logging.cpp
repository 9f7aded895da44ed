// Throughput of the log file: every line is written and flushed on its own, so what a line
// costs bounds how chatty the rest of the program can afford to be. Also times the crash path's
// write while the log lock is held for ever (it takes no lock).
//
//   build/<dir>/bench/diagnostics/bench_logging

#include "diagnostics/CrashLog.h"
#include "diagnostics/LogState.h"
#include "diagnostics/Logging.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <vector>

namespace {

void report(const char *what, int lines, qint64 nanoseconds)
{
    std::printf("%-44s %8d lines %9.0f lines/s %7.2f us/line\n", what, lines,
                lines * 1e9 / double(nanoseconds), double(nanoseconds) / lines / 1000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    initLogging(QStringLiteral("bench"));

    constexpr int lines = 100000;
    const QString text(100, QLatin1Char('x'));
    QElapsedTimer timer;

    timer.start();
    for (int i = 0; i < lines; ++i)
        writeLogLine(text);
    report("writeLogLine, 100 characters", lines, timer.nsecsElapsed());

    timer.start();
    for (int i = 0; i < lines; ++i)
        logTrace(text);
    report("logTrace, 100 characters", lines, timer.nsecsElapsed());

    timer.start();
    for (int i = 0; i < lines; ++i)
        qInfo("%s", qPrintable(text));
    report("qInfo through the handler", lines, timer.nsecsElapsed());

    constexpr int threadCount = 4;
    std::vector<QThread *> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.push_back(QThread::create([&text] {
            for (int i = 0; i < lines / threadCount; ++i)
                qInfo("%s", qPrintable(text));
        }));
    timer.start();
    for (QThread *thread : threads)
        thread->start();
    for (QThread *thread : threads) {
        thread->wait();
        delete thread;
    }
    report("qInfo from 4 threads at once", lines, timer.nsecsElapsed());

    const QByteArray raw = text.toUtf8();
    timer.start();
    for (int i = 0; i < lines; ++i)
        crashLogWrite(raw.constData());
    report("crash path write, lock free", lines, timer.nsecsElapsed());

    constexpr int held = 5;
    logState().logMutex.lock();
    timer.start();
    for (int i = 0; i < held; ++i)
        crashLogWrite(raw.constData());
    const qint64 waited = timer.nsecsElapsed();
    logState().logMutex.unlock();
    std::printf("%-44s %8d lines %9.1f ms/line\n", "crash path write, lock never released", held,
                double(waited) / held / 1e6);

    std::printf("log file size: %lld bytes\n",
                static_cast<long long>(QFileInfo(logState().logPath).size()));
    return 0;
}
