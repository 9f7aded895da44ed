#pragma once

// Pure text helpers of the log file, kept apart from the process-wide state so they can be
// tested and fuzzed on their own.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Old logs beyond this many are deleted at start-up, before this run's file exists.
constexpr int keptLogFiles = 20;

// The five-character level field of a message line.
QString levelField(QtMsgType type);

// " (file:line)" when the context names a source file, otherwise empty.
QString sourceSuffix(const char *file, int line);

// "%1 %2 [%3] %4%5": timestamp, level field, thread id in hex, message, source suffix.
QString formatMessageLine(const QString &timestamp, QtMsgType type, quint64 threadId,
                          const QString &message, const char *file, int line);

// "%1 TRACE %2"
QString formatTraceLine(const QString &timestamp, const QString &text);

// "%1 FATAL --- qFatal, aborting ---"
QString formatFatalAbortLine(const QString &timestamp);

// "%1 INFO  WER LocalDumps for %2 -> %3 (%4)"
QString formatLocalDumpsLine(const QString &timestamp, const QString &executable,
                             const QString &logDir, bool enabled);

// "%1 INFO  core dumps for %2 -> %3 (limit %4, %5)": where the kernel puts this executable's
// core files, the size limit now in force and what became of it ("enabled", "FAILED", or why it
// was left as found).
QString formatCoreDumpsLine(const QString &timestamp, const QString &executable,
                            const QString &location, const QString &limit, const QString &state);

// Where a core file goes by the kernel's core pattern: the pattern itself when it is a path
// (relative ones below the working directory), "piped to <program>" when it starts with '|'.
QString coreDumpLocation(const QString &pattern, const QString &workingDirectory);

// The log directory below the configuration location, or below the temporary directory when
// the configuration location is empty.
QString logDirectoryFor(const QString &configLocation, const QString &tempPath);

// "%1/updater-%2-%3.log"
QString logFilePath(const QString &logDir, const QDateTime &start, qint64 pid);

// The eight header lines, the last one empty.
QStringList headerLines(const QString &version, const QString &started, const QString &osName,
                        const QString &kernelVersion, const QString &buildArch,
                        const QString &hostArch, const QString &qtRuntime, const QString &logPath);

// Deletes every "updater-*.log" file in dir beyond the `keep` newest by modification time.
void pruneOldLogs(const QString &dir, int keep);
