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
#include <QTimeZone>

#include <atomic>

namespace {

// Hands the crash handlers, which cannot ask the time zone, the offset now and its next changes,
// so their lines keep the local time also right after a change that no log line has seen.
void noteLocalTimeOffsets(const QDateTime &now)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    UtcOffsetChange changes[keptOffsetChanges];
    std::size_t count = 0;
    for (QDateTime after = now; count < keptOffsetChanges; ++count) {
        const QTimeZone::OffsetData next = zone.nextTransition(after);
        if (!next.atUtc.isValid())
            break;
        changes[count] = {next.atUtc.toMSecsSinceEpoch(), next.offsetFromUtc};
        after = next.atUtc;
    }
    noteUtcOffsets(now.offsetFromUtc(), changes, count);
}

} // namespace

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
    noteLocalTimeOffsets(start);
    state.logPath = logFilePath(state.logDir, start, QCoreApplication::applicationPid());

    auto *file = new QFile(state.logPath);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        // No log at all: the application runs on, and nothing is installed or reported.
        delete file;
        return;
    }
    state.logFile = file;

    qInstallMessageHandler(logMessageHandler);
    const QByteArray dir = state.logDir.toUtf8();
    const QByteArray versionText = state.appVersion.toUtf8();
    CrashLogSetup crashLog;
    crashLog.logDir = dir.constData();
    crashLog.appVersion = versionText.constData();
    crashLog.processId = static_cast<std::uint64_t>(QCoreApplication::applicationPid());
    crashLog.logDescriptor = file->handle();
    prepareCrashLog(crashLog);
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
    // Asking the time zone costs more than the rest of the line, and a zone's rules rarely
    // change while we run, so the crash handlers' offsets are renewed once a minute.
    static std::atomic<qint64> notedMinute{-1};
    const qint64 minute =
        now.date().toJulianDay() * 1440 + now.time().msecsSinceStartOfDay() / 60000;
    if (notedMinute.exchange(minute, std::memory_order_relaxed) != minute)
        noteLocalTimeOffsets(now);
    return now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    writeLogLine(formatMessageLine(logTimestamp(), type, currentThreadId(), message, context.file,
                                   context.line));
    if (type == QtFatalMsg) {
        writeLogLine(formatFatalAbortLine(logTimestamp()));
        abortAfterLogging();
    }
}

void logTrace(const QString &text)
{
    writeLogLine(formatTraceLine(logTimestamp(), text));
}
