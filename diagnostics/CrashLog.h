#pragma once

// What the crash and terminate handlers need from the log, in a form they can use without Qt,
// without allocation and (on POSIX) from inside a signal handler. prepareCrashLog() snapshots
// the log state once the log file is open; every other function only reads that snapshot.

#include <cstddef>
#include <cstdint>

// How long a handler waits for a log lock that may be held by the failing thread itself:
// crashLockAttempts tries, crashLockPauseMs apart, then it writes without the lock.
constexpr int crashLockAttempts = 100;
constexpr int crashLockPauseMs = 2;

void prepareCrashLog();

// Keeps the UTC offset used by crashTimestamp current; called whenever local time is taken.
void noteUtcOffset(int offsetSeconds);

// The current local time as "yyyy-MM-dd HH:mm:ss.zzz" / "yyyyMMdd-HHmmss".
void crashTimestamp(char out[24]);
void crashFileStamp(char out[16]);

const char *crashLogDir();     // UTF-8, forward slashes
const char *crashAppVersion(); // UTF-8
std::uint64_t crashProcessId();

// Writes the line plus "\n" to the log file and flushes it; takes the log lock with a bounded
// wait and writes without it when the wait runs out.
void crashLogWrite(const char *line);

// The fixed lines both platforms' handlers write, each with a fresh timestamp: the crash line;
// the dump's outcome (null path: it could not be written); the terminate line, whose reason is
// left in `reason` for the dump.
void crashLogFaultLine(std::uint32_t code, std::uintptr_t address, std::uint64_t threadId);
void crashLogDumpOutcome(const char *dumpPath);
void crashLogTerminateLine(char *reason, std::size_t capacity);
