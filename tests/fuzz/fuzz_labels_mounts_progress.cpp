#include "storage/UDisks2MountPoints.h"
#include "storage/UdevLabel.h"
#include "storage/UpdateCopy.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Any label survives udev's escaping; link names and mount points of any shape decode without
// harm; the copy percentage stays within 0..100 and never falls as the copy goes on.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const QByteArray encoded = encodeUdevLabel(bytes);
    if (QString::fromUtf8(bytes) != decodeUdevLabel(encoded))
        std::abort();
    for (char c : encoded) {
        // Only the escape's backslash and safe characters may appear unescaped.
        if (c == '/' || c == ' ' || c == '\0')
            std::abort();
    }
    decodeUdevLabel(bytes);

    const QStringList points = decodeMountPoints(bytes.split('|'));
    for (const QString &p : points) {
        if (p.isEmpty() || !sameMountPoint(p, p))
            std::abort();
    }

    if (size >= 16) {
        qint64 copied = 0;
        qint64 total = 0;
        std::memcpy(&copied, data, 8);
        std::memcpy(&total, data + 8, 8);
        const int p = copyPercentage(copied, total);
        if (p < 0 || p > 100)
            std::abort();
        if (copied >= 0 && copied < total && copyPercentage(copied + 1, total) < p)
            std::abort();
    }
    return 0;
}
