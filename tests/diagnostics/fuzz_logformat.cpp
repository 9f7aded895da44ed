// Arbitrary message texts, file names and thread ids through the message-line formatter: the
// text must come out exactly as it went in, whatever placeholders or bytes it holds.

#include "diagnostics/LogFormat.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 10)
        return 0;
    const auto type = static_cast<QtMsgType>(data[0] % 7);
    std::uint64_t thread = 0;
    for (int i = 1; i < 9; ++i)
        thread = (thread << 8) | data[i];
    const std::size_t split = data[9] % (size - 9);
    const std::string file(reinterpret_cast<const char *>(data + 10), split);
    const QString message =
        QString::fromUtf8(reinterpret_cast<const char *>(data + 10 + split), size - 10 - split);
    const bool withFile = (data[0] & 0x80) != 0;
    const QString ts = QStringLiteral("2026-01-02 03:04:05.006");

    const QString line =
        formatMessageLine(ts, type, thread, message, withFile ? file.c_str() : nullptr, 42);
    const QString head = ts + QLatin1Char(' ') + levelField(type) + QStringLiteral(" [") +
                         QString::number(thread, 16) + QStringLiteral("] ");
    const QString tail = message + sourceSuffix(withFile ? file.c_str() : nullptr, 42);
    if (line != head + tail || line.indexOf(QLatin1Char('[')) != 30)
        std::abort();
    if (formatTraceLine(ts, message) != ts + QStringLiteral(" TRACE ") + message)
        std::abort();
    return 0;
}
