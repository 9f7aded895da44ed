#include "storage/UdevLabel.h"

#include <cstring>

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static QByteArray unescapeUdev(const QByteArray &linkName)
{
    QByteArray out;
    out.reserve(linkName.size());
    for (qsizetype i = 0; i < linkName.size(); ++i) {
        if (linkName[i] == '\\' && i + 3 < linkName.size() && linkName[i + 1] == 'x') {
            const int high = hexValue(linkName[i + 2]);
            const int low = hexValue(linkName[i + 3]);
            if (high >= 0 && low >= 0) {
                out.append(static_cast<char>(high * 16 + low));
                i += 3;
                continue;
            }
        }
        out.append(linkName[i]);
    }
    return out;
}

QString decodeUdevLabel(const QByteArray &linkName)
{
    return QString::fromUtf8(unescapeUdev(linkName));
}

// Length of the valid UTF-8 multi-byte sequence at position i, or 0.
static int utf8SequenceLength(const QByteArray &s, qsizetype i)
{
    const auto byte = [&](qsizetype k) {
        return static_cast<unsigned char>(s[k]);
    };
    const unsigned char lead = byte(i);
    int length = 0;
    unsigned int code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

QByteArray encodeUdevLabel(const QByteArray &label)
{
    static const char plain[] = "#+-.:=@_";
    QByteArray out;
    for (qsizetype i = 0; i < label.size();) {
        const int sequence = utf8SequenceLength(label, i);
        if (sequence > 0) {
            out.append(label.mid(i, sequence));
            i += sequence;
            continue;
        }
        const char c = label[i];
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (alnum || (c != '\0' && std::strchr(plain, c))) {
            out.append(c);
        } else {
            static const char digits[] = "0123456789abcdef";
            const auto u = static_cast<unsigned char>(c);
            out.append("\\x");
            out.append(digits[u >> 4]);
            out.append(digits[u & 0x0F]);
        }
        ++i;
    }
    return out;
}
