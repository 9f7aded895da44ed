#include "diagnostics/CrashLog.h"

#include "diagnostics/CrashFormat.h"

#include <atomic>
#include <chrono>

namespace {

// Snapshot sizes: a log directory longer than this is cut, which at worst loses the dump.
constexpr std::size_t textCapacity = 4096;
// Room for a full path and the longest exception text.
constexpr std::size_t crashLineCapacity = textCapacity + 1400;

char logDirText[textCapacity];
char versionText[256];
std::atomic<std::uint64_t> processId{0};
std::atomic<std::intptr_t> logSink{-1};

// The offset schedule, published as a sequence lock: a writer makes the version odd while it
// changes the fields, so a reader (the crash path, which must not wait) can tell a torn read and
// retries a few times. A writer that finds another at work leaves the update to it.
std::atomic<unsigned> scheduleVersion{0};
std::atomic<int> scheduleOffset{0};
std::atomic<std::size_t> changeCount{0};
std::atomic<std::int64_t> changeAt[keptOffsetChanges];
std::atomic<int> changeOffset[keptOffsetChanges];
constexpr int scheduleReadAttempts = 4;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int currentOffset(std::int64_t ms)
{
    int offset = 0;
    for (int attempt = 0; attempt < scheduleReadAttempts; ++attempt) {
        const unsigned version = scheduleVersion.load(std::memory_order_acquire);
        UtcOffsetChange changes[keptOffsetChanges];
        std::size_t count = changeCount.load(std::memory_order_relaxed);
        if (count > keptOffsetChanges)
            count = keptOffsetChanges;
        for (std::size_t i = 0; i < count; ++i)
            changes[i] = {changeAt[i].load(std::memory_order_relaxed),
                          changeOffset[i].load(std::memory_order_relaxed)};
        offset = utcOffsetAt(ms, scheduleOffset.load(std::memory_order_relaxed), changes, count);
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((version & 1U) == 0 && scheduleVersion.load(std::memory_order_relaxed) == version)
            break;
    }
    return offset;
}

CivilTime now()
{
    const std::int64_t ms = nowMs();
    return civilTimeFromEpoch(ms, currentOffset(ms));
}

} // namespace

void prepareCrashLog(const CrashLogSetup &setup)
{
    appendText(logDirText, sizeof logDirText, 0, setup.logDir);
    appendText(versionText, sizeof versionText, 0, setup.appVersion);
    processId.store(setup.processId);
    logSink.store(setup.logDescriptor >= 0 ? crashLogSink(setup.logDescriptor) : -1,
                  std::memory_order_release);
}

void noteUtcOffsets(int currentOffsetSeconds, const UtcOffsetChange *changes, std::size_t count)
{
    unsigned version = scheduleVersion.load(std::memory_order_relaxed);
    if ((version & 1U) != 0 ||
        !scheduleVersion.compare_exchange_strong(version, version + 1, std::memory_order_acquire))
        return;
    if (count > keptOffsetChanges)
        count = keptOffsetChanges;
    scheduleOffset.store(currentOffsetSeconds, std::memory_order_relaxed);
    for (std::size_t i = 0; i < count; ++i) {
        changeAt[i].store(changes[i].atEpochMs, std::memory_order_relaxed);
        changeOffset[i].store(changes[i].offsetSeconds, std::memory_order_relaxed);
    }
    changeCount.store(count, std::memory_order_relaxed);
    scheduleVersion.store(version + 2, std::memory_order_release);
}

int utcOffsetAt(std::int64_t epochMs, int offsetBefore, const UtcOffsetChange *changes,
                std::size_t count)
{
    int offset = offsetBefore;
    for (std::size_t i = 0; i < count && changes[i].atEpochMs <= epochMs; ++i)
        offset = changes[i].offsetSeconds;
    return offset;
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
    const std::intptr_t sink = logSink.load(std::memory_order_acquire);
    if (sink == -1)
        return;
    char buffer[crashLineCapacity + 8];
    std::size_t len = appendText(buffer, crashLineCapacity, 0, line);
    len = appendText(buffer, sizeof buffer, len, crashLineEnd);
    writeCrashLogBytes(sink, buffer, len);
}

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
