#include "diagnostics/CrashFormat.h"

#include <csignal>
#include <cstring>
#include <exception>

std::size_t appendText(char *buf, std::size_t cap, std::size_t len, const char *text)
{
    if (cap == 0)
        return 0;
    if (len >= cap)
        len = cap - 1;
    if (text != nullptr) {
        while (*text != '\0' && len + 1 < cap)
            buf[len++] = *text++;
    }
    buf[len] = '\0';
    return len;
}

std::size_t appendHex(char *buf, std::size_t cap, std::size_t len, std::uint64_t value)
{
    static const char digits[] = "0123456789abcdef";
    char tmp[17];
    int n = 0;
    do {
        tmp[n++] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    char text[17];
    for (int i = 0; i < n; ++i)
        text[i] = tmp[n - 1 - i];
    text[n] = '\0';
    return appendText(buf, cap, len, text);
}

std::size_t appendHex8(char *buf, std::size_t cap, std::size_t len, std::uint32_t value)
{
    static const char digits[] = "0123456789abcdef";
    char text[9];
    for (int i = 7; i >= 0; --i) {
        text[i] = digits[value & 0xF];
        value >>= 4;
    }
    text[8] = '\0';
    return appendText(buf, cap, len, text);
}

std::size_t appendDecimal(char *buf, std::size_t cap, std::size_t len, std::uint64_t value)
{
    char tmp[21];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char text[21];
    for (int i = 0; i < n; ++i)
        text[i] = tmp[n - 1 - i];
    text[n] = '\0';
    return appendText(buf, cap, len, text);
}

const char *exceptionName(std::uint32_t code)
{
    switch (code) {
    case CrashCode::AccessViolation:
        return "ACCESS_VIOLATION";
    case CrashCode::InPageError:
        return "IN_PAGE_ERROR";
    case CrashCode::IllegalInstruction:
        return "ILLEGAL_INSTRUCTION";
    case CrashCode::IntDivideByZero:
        return "INT_DIVIDE_BY_ZERO";
    case CrashCode::PrivInstruction:
        return "PRIV_INSTRUCTION";
    case CrashCode::StackOverflow:
        return "STACK_OVERFLOW";
    case CrashCode::HeapCorruption:
        return "HEAP_CORRUPTION";
    case CrashCode::CppException:
        return "C++ exception";
    default:
        return "unknown";
    }
}

CivilTime civilTimeFromEpoch(std::int64_t epochMilliseconds, std::int64_t utcOffsetSeconds)
{
    // Floor division throughout, so instants before 1970 come out right as well.
    std::int64_t ms = epochMilliseconds + utcOffsetSeconds * 1000;
    std::int64_t secs = ms / 1000;
    std::int64_t milli = ms % 1000;
    if (milli < 0) {
        milli += 1000;
        --secs;
    }
    std::int64_t days = secs / 86400;
    std::int64_t secOfDay = secs % 86400;
    if (secOfDay < 0) {
        secOfDay += 86400;
        --days;
    }
    // Days to civil date (proleptic Gregorian), after Howard Hinnant's days_from_civil inverse.
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);

    CivilTime t{};
    t.year = static_cast<int>(year);
    t.month = static_cast<int>(month);
    t.day = static_cast<int>(day);
    t.hour = static_cast<int>(secOfDay / 3600);
    t.minute = static_cast<int>(secOfDay / 60 % 60);
    t.second = static_cast<int>(secOfDay % 60);
    t.millisecond = static_cast<int>(milli);
    return t;
}

namespace {

// Writes value as exactly `width` decimal digits (the year is clamped into range first).
char *putDigits(char *out, int value, int width)
{
    if (value < 0)
        value = 0;
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

std::size_t appendTimestamped(char *buf, std::size_t cap, const char *timestamp, const char *rest)
{
    std::size_t len = appendText(buf, cap, 0, timestamp);
    len = appendText(buf, cap, len, " ");
    return appendText(buf, cap, len, rest);
}

} // namespace

void formatLogTimestamp(const CivilTime &time, char out[24])
{
    char *p = out;
    p = putDigits(p, time.year, 4);
    *p++ = '-';
    p = putDigits(p, time.month, 2);
    *p++ = '-';
    p = putDigits(p, time.day, 2);
    *p++ = ' ';
    p = putDigits(p, time.hour, 2);
    *p++ = ':';
    p = putDigits(p, time.minute, 2);
    *p++ = ':';
    p = putDigits(p, time.second, 2);
    *p++ = '.';
    p = putDigits(p, time.millisecond, 3);
    *p = '\0';
}

void formatFileStamp(const CivilTime &time, char out[16])
{
    char *p = out;
    p = putDigits(p, time.year, 4);
    p = putDigits(p, time.month, 2);
    p = putDigits(p, time.day, 2);
    *p++ = '-';
    p = putDigits(p, time.hour, 2);
    p = putDigits(p, time.minute, 2);
    p = putDigits(p, time.second, 2);
    *p = '\0';
}

std::size_t formatCrashLine(char *buf, std::size_t cap, const char *timestamp, std::uint32_t code,
                            std::uint64_t address, std::uint64_t threadId)
{
    std::size_t len = appendTimestamped(buf, cap, timestamp, "FATAL === CRASH === code=0x");
    len = appendHex8(buf, cap, len, code);
    len = appendText(buf, cap, len, " (");
    len = appendText(buf, cap, len, exceptionName(code));
    len = appendText(buf, cap, len, ") address=0x");
    len = appendHex(buf, cap, len, address);
    len = appendText(buf, cap, len, " thread=0x");
    return appendHex(buf, cap, len, threadId);
}

std::size_t formatDumpWrittenLine(char *buf, std::size_t cap, const char *timestamp,
                                  const char *path)
{
    std::size_t len = appendTimestamped(buf, cap, timestamp, "FATAL minidump written to ");
    return appendText(buf, cap, len, path);
}

std::size_t formatDumpFailedLine(char *buf, std::size_t cap, const char *timestamp)
{
    return appendTimestamped(buf, cap, timestamp, "FATAL minidump could NOT be written");
}

std::size_t formatTerminateLine(char *buf, std::size_t cap, const char *timestamp,
                                const char *reason)
{
    std::size_t len = appendTimestamped(buf, cap, timestamp, "FATAL === std::terminate === ");
    return appendText(buf, cap, len, reason);
}

std::size_t formatDumpPath(char *buf, std::size_t cap, const char *dir, const char *fileStamp,
                           std::uint64_t pid)
{
    std::size_t len = appendText(buf, cap, 0, dir);
    len = appendText(buf, cap, len, "/crash-");
    len = appendText(buf, cap, len, fileStamp);
    len = appendText(buf, cap, len, "-");
    len = appendDecimal(buf, cap, len, pid);
    return appendText(buf, cap, len, ".dmp");
}

std::size_t describeCurrentException(char *buf, std::size_t cap)
{
    if (!std::current_exception())
        return appendText(buf, cap, 0, "no active exception");
    // A plain rethrow reuses the exception object; std::rethrow_exception would allocate.
    try {
        throw;
    } catch (const std::exception &e) {
        const std::size_t len = appendText(buf, cap, 0, "std::exception: ");
        return appendText(buf, cap, len, e.what());
    } catch (...) {
        return appendText(buf, cap, 0, "non-std exception");
    }
}

std::uint32_t crashCodeForAbort(const char *message)
{
    if (message == nullptr || std::strstr(message, "Assertion `") != nullptr)
        return CrashCode::FailFast;
    // glibc's heap checks name the allocator function that found the damage, or the damage.
    static const char *const heapMarkers[] = {"malloc",       "free(",     "free or",
                                              "realloc",      "calloc",    "memalign",
                                              "munmap_chunk", "corrupted", "tcache"};
    for (const char *marker : heapMarkers) {
        if (std::strstr(message, marker) != nullptr)
            return CrashCode::HeapCorruption;
    }
    return CrashCode::FailFast;
}

std::uint32_t crashCodeForSignal(int signalNumber, bool fpeIntDiv, std::uint64_t faultAddress,
                                 std::uint64_t stackPointer)
{
    switch (signalNumber) {
    case SIGSEGV: {
        if (stackPointer == 0)
            return CrashCode::AccessViolation;
        const std::uint64_t distance =
            faultAddress > stackPointer ? faultAddress - stackPointer : stackPointer - faultAddress;
        return distance <= stackOverflowReach ? CrashCode::StackOverflow
                                              : CrashCode::AccessViolation;
    }
#ifdef SIGBUS
    case SIGBUS:
        return CrashCode::InPageError;
#endif
    case SIGILL:
        return CrashCode::IllegalInstruction;
    case SIGFPE:
        return fpeIntDiv ? CrashCode::IntDivideByZero : 0;
    default:
        return 0;
    }
}
