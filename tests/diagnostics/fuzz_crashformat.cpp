// Feeds arbitrary values and buffer sizes to the crash-line formatters: whatever comes in, they
// must stay inside their buffer, terminate it and report its length.

#include "diagnostics/CrashFormat.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(const std::vector<char> &buf, std::size_t len)
{
    if (buf.empty())
        return;
    if (len >= buf.size() || buf[len] != '\0' || std::strlen(buf.data()) != len)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto take = [&](int bytes) {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes && size > 0; ++i, ++data, --size)
            value = (value << 8) | *data;
        return value;
    };
    const std::size_t cap = static_cast<std::size_t>(take(1));
    const auto code = static_cast<std::uint32_t>(take(4));
    const std::uint64_t address = take(8);
    const std::uint64_t thread = take(8);
    // Offsets of real time zones and instants within a few hundred millennia of 1970.
    const auto offset = static_cast<std::int64_t>(take(2) % (2 * 18 * 3600)) - 18 * 3600;
    const auto epochMs = static_cast<std::int64_t>(take(6)) - (std::int64_t(1) << 47);
    const std::string text(reinterpret_cast<const char *>(data), size);

    const CivilTime t = civilTimeFromEpoch(epochMs, offset);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
        t.second > 59 || t.millisecond > 999 || t.hour < 0 || t.minute < 0 || t.second < 0 ||
        t.millisecond < 0)
        std::abort();
    char stamp[24];
    formatLogTimestamp(t, stamp);
    if (std::strlen(stamp) != 23)
        std::abort();
    char fileStamp[16];
    formatFileStamp(t, fileStamp);
    if (std::strlen(fileStamp) != 15)
        std::abort();

    std::vector<char> buf(cap);
    check(buf, formatCrashLine(buf.data(), cap, stamp, code, address, thread));
    check(buf, formatDumpWrittenLine(buf.data(), cap, stamp, text.c_str()));
    check(buf, formatDumpFailedLine(buf.data(), cap, stamp));
    check(buf, formatTerminateLine(buf.data(), cap, stamp, text.c_str()));
    std::size_t len = formatDumpPath(buf.data(), cap, text.c_str(), fileStamp, address);
    check(buf, len);
    len = appendText(buf.data(), cap, len, text.c_str());
    check(buf, len);
    len = appendHex(buf.data(), cap, len, address);
    check(buf, len);
    len = appendHex8(buf.data(), cap, len, code);
    check(buf, len);
    check(buf, appendDecimal(buf.data(), cap, len, thread));
    (void)exceptionName(code);
    (void)crashCodeForSignal(static_cast<int>(code % 40), (address & 1) != 0, address, thread);
    return 0;
}
