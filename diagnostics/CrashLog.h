#pragma once

// What the crash and terminate handlers need from the log, in a form they can use without Qt,
// without allocation, without locks and (on POSIX) from inside a signal handler.
// prepareCrashLog() snapshots the log once its file is open; the handlers only read the snapshot.
// Qt-free, so the Windows test programs use exactly this code too.

#include <cstddef>
#include <cstdint>

struct CrashLogSetup
{
    const char *logDir = "";     // UTF-8, forward slashes
    const char *appVersion = ""; // UTF-8
    std::uint64_t processId = 0;
    int logDescriptor = -1; // the open log file's C runtime descriptor; -1: no log
};

void prepareCrashLog(const CrashLogSetup &setup);

// A coming change of the local time's offset from UTC.
struct UtcOffsetChange
{
    std::int64_t atEpochMs;
    int offsetSeconds;
};
constexpr std::size_t keptOffsetChanges = 4;

// Keeps the local time of the crash lines right: the offset in force now and the next changes,
// earliest first (only the first keptOffsetChanges are kept). Called whenever local time is
// taken for the log; a change due meanwhile is applied without asking the time zone again.
void noteUtcOffsets(int currentOffsetSeconds, const UtcOffsetChange *changes, std::size_t count);

// The offset at epochMs: offsetBefore until the first change, then that change's, and so on.
int utcOffsetAt(std::int64_t epochMs, int offsetBefore, const UtcOffsetChange *changes,
                std::size_t count);

// The current local time as "yyyy-MM-dd HH:mm:ss.zzz" / "yyyyMMdd-HHmmss".
void crashTimestamp(char out[24]);
void crashFileStamp(char out[16]);

const char *crashLogDir();     // UTF-8, forward slashes
const char *crashAppVersion(); // UTF-8
std::uint64_t crashProcessId();

// Writes the line and the platform's line end to the log file with one system call. Takes no
// lock: a single write to the end of the file cannot tear or interleave with the lines that
// writeLogLine writes under its lock, and the failing thread may hold that lock itself.
void crashLogWrite(const char *line);

// The fixed lines both platforms' handlers write, each with a fresh timestamp: the crash line;
// the dump's outcome (null path: it could not be written); the terminate line, whose reason is
// left in `reason` for the dump.
void crashLogFaultLine(std::uint32_t code, std::uintptr_t address, std::uint64_t threadId);
void crashLogDumpOutcome(const char *dumpPath);
void crashLogTerminateLine(char *reason, std::size_t capacity);

// Platform part (CrashHandler_linux.cpp, CrashHandler_win.cpp): what the writes go to, the raw
// write itself and the line end of the log's text mode.
std::intptr_t crashLogSink(int descriptor);
void writeCrashLogBytes(std::intptr_t sink, const char *data, std::size_t size);
extern const char crashLineEnd[];
