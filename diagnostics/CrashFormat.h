#pragma once

// Formatting for the crash and terminate paths. Everything here works on caller-owned buffers
// with no allocation, no locale and no locks, so the signal handlers may use it. All writers
// truncate rather than overrun, and always leave the buffer NUL-terminated when cap > 0.

#include <cstddef>
#include <cstdint>

// Appends text at buf[len], keeping a terminating NUL; returns the new length.
std::size_t appendText(char *buf, std::size_t cap, std::size_t len, const char *text);

// Lower-case hexadecimal without prefix or padding ("1a", "0").
std::size_t appendHex(char *buf, std::size_t cap, std::size_t len, std::uint64_t value);

// Exactly eight lower-case hexadecimal digits, zero-filled ("0000001d").
std::size_t appendHex8(char *buf, std::size_t cap, std::size_t len, std::uint32_t value);

// Decimal without padding.
std::size_t appendDecimal(char *buf, std::size_t cap, std::size_t len, std::uint64_t value);

// The name the crash line gives an exception code, "unknown" for codes not in the table.
const char *exceptionName(std::uint32_t code);

// Broken-down local time, computed from seconds since the epoch plus a fixed UTC offset.
struct CivilTime
{
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
};
CivilTime civilTimeFromEpoch(std::int64_t epochMilliseconds, std::int64_t utcOffsetSeconds);

// "yyyy-MM-dd HH:mm:ss.zzz": 23 characters plus NUL, so out needs 24 bytes.
void formatLogTimestamp(const CivilTime &time, char out[24]);
// "yyyyMMdd-HHmmss": 15 characters plus NUL, so out needs 16 bytes.
void formatFileStamp(const CivilTime &time, char out[16]);

// "<ts> FATAL === CRASH === code=0x<8 hex> (<name>) address=0x<hex> thread=0x<hex>"
std::size_t formatCrashLine(char *buf, std::size_t cap, const char *timestamp, std::uint32_t code,
                            std::uint64_t address, std::uint64_t threadId);
// "<ts> FATAL minidump written to <path>"
std::size_t formatDumpWrittenLine(char *buf, std::size_t cap, const char *timestamp,
                                  const char *path);
// "<ts> FATAL minidump could NOT be written"
std::size_t formatDumpFailedLine(char *buf, std::size_t cap, const char *timestamp);
// "<ts> FATAL === std::terminate === <reason>"
std::size_t formatTerminateLine(char *buf, std::size_t cap, const char *timestamp,
                                const char *reason);
// "<dir>/crash-<stamp>-<pid>.dmp"
std::size_t formatDumpPath(char *buf, std::size_t cap, const char *dir, const char *fileStamp,
                           std::uint64_t pid);

// The reason the terminate line gives for the exception in flight, if any: "no active
// exception", "non-std exception" or "std::exception: <what>". Must be called from a terminate
// handler or a catch block; allocates nothing.
std::size_t describeCurrentException(char *buf, std::size_t cap);

// Exception codes our POSIX signal handler reports, chosen to mean what the Windows ones mean.
namespace CrashCode {
constexpr std::uint32_t AccessViolation = 0xC0000005u;
constexpr std::uint32_t InPageError = 0xC0000006u;
constexpr std::uint32_t IllegalInstruction = 0xC000001Du;
constexpr std::uint32_t IntDivideByZero = 0xC0000094u;
constexpr std::uint32_t PrivInstruction = 0xC0000096u;
constexpr std::uint32_t StackOverflow = 0xC00000FDu;
constexpr std::uint32_t HeapCorruption = 0xC0000374u;
constexpr std::uint32_t FailFast = 0xC0000409u; // what abort() raises with the MSVC runtime
constexpr std::uint32_t CppException = 0xE06D7363u;
} // namespace CrashCode

// Distance from the stack pointer within which a segmentation fault counts as a stack overflow.
constexpr std::uint64_t stackOverflowReach = 64 * 1024;

// The exception code for a fatal POSIX signal. fpeIntDiv is whether si_code was FPE_INTDIV.
// A SIGSEGV whose fault address lies within stackOverflowReach of the stack pointer is a stack
// overflow. Unknown combinations give 0 (named "unknown").
std::uint32_t crashCodeForSignal(int signalNumber, bool fpeIntDiv, std::uint64_t faultAddress,
                                 std::uint64_t stackPointer);

// The exception code Windows gives for the event behind an abort(), from the message the C
// library left for it (null when there is none): heap corruption for glibc's heap checks,
// otherwise the fail-fast code of the MSVC runtime's abort() and of failed checks.
std::uint32_t crashCodeForAbort(const char *message);
