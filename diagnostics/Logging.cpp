#include "diagnostics/Logging.h"

#include "diagnostics/CrashHandler.h"
#include "diagnostics/CrashLog.h"
#include "diagnostics/LogFormat.h"
#include "diagnostics/LogState.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QSysInfo>

#include <atomic>
#include <cstdlib>

void initLogging(const QString &version)
{
    LogState &state = logState();
    if (state.initialised)
        return;
    state.initialised = true;
    state.appVersion = version;

    state.logDir = logDirectoryFor(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), QDir::tempPath());
    QDir().mkpath(state.logDir);
    pruneOldLogs(state.logDir, keptLogFiles);

    const QDateTime start = QDateTime::currentDateTime();
    noteUtcOffset(start.offsetFromUtc());
    state.logPath = logFilePath(state.logDir, start, QCoreApplication::applicationPid());

    auto *file = new QFile(state.logPath);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        // No log at all: the application runs on, and nothing is installed or reported.
        delete file;
        return;
    }
    state.logFile = file;

    qInstallMessageHandler(logMessageHandler);
    prepareCrashLog();
    installCrashHandlers();

    for (const QString &line : headerLines(
             state.appVersion, logTimestamp(), QSysInfo::prettyProductName(),
             QSysInfo::kernelVersion(), QSysInfo::buildCpuArchitecture(),
             QSysInfo::currentCpuArchitecture(), QString::fromLatin1(qVersion()), state.logPath))
        writeLogLine(line);
}

void writeLogLine(const QString &line)
{
    LogState &state = logState();
    const QByteArray bytes = line.toUtf8() + '\n';
    const std::lock_guard<std::mutex> lock(state.logMutex);
    if (state.logFile != nullptr && state.logFile->isOpen()) {
        state.logFile->write(bytes);
        state.logFile->flush();
    }
}

QString logTimestamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    // The crash handlers cannot ask for the time zone, so keep their offset current here. Zones
    // change their offset on a minute boundary at the finest, and asking costs as much as the
    // rest of the line, so ask once a minute.
    static std::atomic<qint64> notedMinute{-1};
    const qint64 minute =
        now.date().toJulianDay() * 1440 + now.time().msecsSinceStartOfDay() / 60000;
    if (notedMinute.exchange(minute, std::memory_order_relaxed) != minute)
        noteUtcOffset(now.offsetFromUtc());
    return now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    writeLogLine(formatMessageLine(logTimestamp(), type, currentThreadId(), message, context.file,
                                   context.line));
    if (type == QtFatalMsg) {
        writeLogLine(formatFatalAbortLine(logTimestamp()));
        std::abort();
    }
}

void logTrace(const QString &text)
{
    writeLogLine(formatTraceLine(logTimestamp(), text));
}
