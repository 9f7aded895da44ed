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
#include <cstdio>

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

// The run's log file in dir, pruned first; null when it cannot be written.
QFile *openLogFile(LogState &state, const QString &dir, const QDateTime &start)
{
    state.logDir = dir;
    QDir().mkpath(dir);
    pruneOldLogs(dir, keptLogFiles);
    state.logPath = logFilePath(dir, start, QCoreApplication::applicationPid());
    auto *file = new QFile(state.logPath);
    if (file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return file;
    delete file;
    return nullptr;
}

// Nobody reads a log that is not there: a terminal or a launcher's journal shows this instead.
void tellConsole(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

void initLogging(const QString &version)
{
    LogState &state = logState();
    if (state.initialised)
        return;
    state.initialised = true;
    state.appVersion = version;

    const QDateTime start = QDateTime::currentDateTime();
    noteLocalTimeOffsets(start);
    const QString wanted = logDirectoryFor(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), QDir::tempPath());
    QFile *file = openLogFile(state, wanted, start);
    // Qt gives no temporary location when TMPDIR names none that exists: never the root then.
    const QString temp = QDir::tempPath();
    const QString fallback = temp.isEmpty() ? wanted : logDirectoryFor(QString(), temp);
    if (!file && fallback != wanted) {
        file = openLogFile(state, fallback, start);
        if (file)
            tellConsole(QStringLiteral("the log folder %1 cannot be written; this run logs to %2")
                            .arg(wanted, state.logPath));
    }
    if (!file) {
        // The application runs on, still with its crash handlers, which then write no lines.
        tellConsole(
            QStringLiteral("no log file can be written in %1; this run keeps no log")
                .arg(wanted == fallback ? wanted : wanted + QStringLiteral(" or ") + fallback));
    }
    state.logFile = file;

    if (file)
        qInstallMessageHandler(logMessageHandler);
    const QByteArray dir = state.logDir.toUtf8();
    const QByteArray versionText = state.appVersion.toUtf8();
    CrashLogSetup crashLog;
    crashLog.logDir = dir.constData();
    crashLog.appVersion = versionText.constData();
    crashLog.processId = static_cast<std::uint64_t>(QCoreApplication::applicationPid());
    crashLog.logDescriptor = file ? file->handle() : -1;
    prepareCrashLog(crashLog);
    installCrashHandlers();
    if (!file)
        return;

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
        // Also where the user who started the program can see why it ended.
        tellConsole(message);
        writeLogLine(formatFatalAbortLine(logTimestamp()));
        abortAfterLogging();
    }
}

void logTrace(const QString &text)
{
    writeLogLine(formatTraceLine(logTimestamp(), text));
}

void reportStartupFailure(const QString &text)
{
    qCritical().noquote() << text;
    const LogState &state = logState();
    tellConsole(state.logFile ? text + QStringLiteral(" (log: %1)").arg(state.logPath) : text);
}
