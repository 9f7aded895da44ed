#include "diagnostics/LogFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString levelField(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("DEBUG");
    case QtWarningMsg:
        return QStringLiteral("WARN ");
    case QtCriticalMsg:
        return QStringLiteral("CRIT ");
    case QtFatalMsg:
        return QStringLiteral("FATAL");
    default:
        return QStringLiteral("INFO ");
    }
}

QString sourceSuffix(const char *file, int line)
{
    if (file == nullptr)
        return {};
    return QStringLiteral(" (%1:%2)").arg(QString::fromUtf8(file)).arg(line);
}

QString formatMessageLine(const QString &timestamp, QtMsgType type, quint64 threadId,
                          const QString &message, const char *file, int line)
{
    // The message and suffix go in one pass so that "%1" or digits in the text stay as written.
    return QStringLiteral("%1 %2 [%3] %4%5")
        .arg(timestamp, levelField(type))
        .arg(threadId, 0, 16, QLatin1Char(' '))
        .arg(message, sourceSuffix(file, line));
}

QString formatTraceLine(const QString &timestamp, const QString &text)
{
    return QStringLiteral("%1 TRACE %2").arg(timestamp, text);
}

QString formatFatalAbortLine(const QString &timestamp)
{
    return QStringLiteral("%1 FATAL --- qFatal, aborting ---").arg(timestamp);
}

QString formatLocalDumpsLine(const QString &timestamp, const QString &executable,
                             const QString &logDir, bool enabled)
{
    return QStringLiteral("%1 INFO  WER LocalDumps for %2 -> %3 (%4)")
        .arg(timestamp, executable, logDir,
             enabled ? QStringLiteral("enabled") : QStringLiteral("FAILED"));
}

QString formatCoreDumpsLine(const QString &timestamp, const QString &executable,
                            const QString &location, const QString &limit, const QString &state)
{
    return QStringLiteral("%1 INFO  core dumps for %2 -> %3 (limit %4, %5)")
        .arg(timestamp, executable, location, limit, state);
}

QString coreDumpLocation(const QString &pattern, const QString &workingDirectory)
{
    if (pattern.isEmpty())
        return QStringLiteral("unknown");
    if (pattern.startsWith(QLatin1Char('|')))
        return QStringLiteral("piped to ") + pattern.mid(1);
    return QDir(workingDirectory).filePath(pattern);
}

QString logDirectoryFor(const QString &configLocation, const QString &tempPath)
{
    const QString base = configLocation.isEmpty() ? tempPath : configLocation;
    return base + QStringLiteral("/Tovik-Instruments/Tovik Updater/logs");
}

QString logFilePath(const QString &logDir, const QDateTime &start, qint64 pid)
{
    return QStringLiteral("%1/updater-%2-%3.log")
        .arg(logDir, start.toString(QStringLiteral("yyyyMMdd-HHmmss")), QString::number(pid));
}

QStringList headerLines(const QString &version, const QString &started, const QString &osName,
                        const QString &kernelVersion, const QString &buildArch,
                        const QString &hostArch, const QString &qtRuntime, const QString &logPath)
{
    return {QStringLiteral("=== Tovik Updater %1 ===").arg(version),
            QStringLiteral("started      %1").arg(started),
            QStringLiteral("os           %1 (%2)").arg(osName, kernelVersion),
            QStringLiteral("build arch   %1").arg(buildArch),
            QStringLiteral("host arch    %1").arg(hostArch),
            QStringLiteral("qt runtime   %1").arg(qtRuntime),
            QStringLiteral("log file     %1").arg(logPath),
            QString()};
}

void pruneOldLogs(const QString &dir, int keep)
{
    const QFileInfoList logs =
        QDir(dir).entryInfoList({QStringLiteral("updater-*.log")}, QDir::Files, QDir::Time);
    for (qsizetype i = keep; i < logs.size(); ++i)
        QFile::remove(logs.at(i).absoluteFilePath());
}
