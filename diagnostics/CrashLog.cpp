#include "diagnostics/CrashLog.h"

#include "diagnostics/CrashFormat.h"
#include "diagnostics/LogState.h"

#include <QCoreApplication>
#include <QFile>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#ifndef Q_OS_WIN
#include <cerrno>
#include <unistd.h>
#endif

namespace {

// Snapshot sizes: a log directory longer than this is cut, which at worst loses the dump.
constexpr std::size_t textCapacity = 4096;

char logDirText[textCapacity];
char versionText[256];
std::atomic<std::uint64_t> processId{0};
std::atomic<int> utcOffset{0};
std::atomic<int> logFd{-1};

void copyText(char *out, std::size_t cap, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    appendText(out, cap, 0, utf8.constData());
}

CivilTime now()
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return civilTimeFromEpoch(ms, utcOffset.load(std::memory_order_relaxed));
}

#ifndef Q_OS_WIN
void writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}
#endif

void writeUnlocked(const char *line, std::size_t len)
{
#ifdef Q_OS_WIN
    // Not a signal context on Windows: the file object itself may be used.
    QFile *file = logState().logFile;
    if (file != nullptr && file->isOpen()) {
        file->write(line, static_cast<qint64>(len));
        file->flush();
    }
#else
    // The file object is flushed after every line, so its buffer is empty and the raw
    // descriptor (opened for appending) continues the file exactly where it stands.
    const int fd = logFd.load(std::memory_order_acquire);
    if (fd >= 0)
        writeAll(fd, line, len);
#endif
}

} // namespace

void prepareCrashLog()
{
    const LogState &state = logState();
    copyText(logDirText, sizeof logDirText, state.logDir);
    copyText(versionText, sizeof versionText, state.appVersion);
    processId.store(static_cast<std::uint64_t>(QCoreApplication::applicationPid()));
    if (state.logFile != nullptr && state.logFile->isOpen())
        logFd.store(state.logFile->handle(), std::memory_order_release);
}

void noteUtcOffset(int offsetSeconds)
{
    utcOffset.store(offsetSeconds, std::memory_order_relaxed);
}

void crashTimestamp(char out[24])
{
    formatLogTimestamp(now(), out);
}

void crashFileStamp(char out[16])
{
    formatFileStamp(now(), out);
}

const char *crashLogDir()
{
    return logDirText;
}

const char *crashAppVersion()
{
    return versionText;
}

std::uint64_t crashProcessId()
{
    return processId.load();
}

void crashLogWrite(const char *line)
{
    // Room for the longest line we write: a path-sized dump name plus its fixed text.
    char buffer[textCapacity + 512];
    std::size_t len = appendText(buffer, sizeof buffer - 1, 0, line);
    buffer[len++] = '\n';

    std::mutex &mutex = logState().logMutex;
    bool locked = false;
    for (int attempt = 0; attempt < crashLockAttempts && !locked; ++attempt) {
        locked = mutex.try_lock();
        if (!locked)
            std::this_thread::sleep_for(std::chrono::milliseconds(crashLockPauseMs));
    }
    writeUnlocked(buffer, len);
    if (locked)
        mutex.unlock();
}

namespace {
// Room for a full path and the longest exception text.
constexpr std::size_t crashLineCapacity = 4096 + 1400;
} // namespace

void crashLogFaultLine(std::uint32_t code, std::uintptr_t address, std::uint64_t threadId)
{
    char timestamp[24];
    crashTimestamp(timestamp);
    char line[crashLineCapacity];
    formatCrashLine(line, sizeof line, timestamp, code, address, threadId);
    crashLogWrite(line);
}

void crashLogDumpOutcome(const char *dumpPath)
{
    char timestamp[24];
    crashTimestamp(timestamp);
    char line[crashLineCapacity];
    if (dumpPath != nullptr)
        formatDumpWrittenLine(line, sizeof line, timestamp, dumpPath);
    else
        formatDumpFailedLine(line, sizeof line, timestamp);
    crashLogWrite(line);
}

void crashLogTerminateLine(char *reason, std::size_t capacity)
{
    describeCurrentException(reason, capacity);
    char timestamp[24];
    crashTimestamp(timestamp);
    char line[crashLineCapacity];
    formatTerminateLine(line, sizeof line, timestamp, reason);
    crashLogWrite(line);
}
