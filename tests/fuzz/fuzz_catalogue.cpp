#include "release/CatalogueReader.h"

#include <QUrl>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

// Any catalogue body: no crash, no accepted file name ever leaves the download folder or ends
// up in another segment of its URL, and no outside text breaks a log line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<CatalogueRelease> releases = readCatalogue(body);
    // The bytes also serve directly as one candidate name, to reach odd characters quickly.
    QStringList names{QString::fromUtf8(body)};
    for (const CatalogueRelease &release : releases)
        names.append(release.fileName);
    for (const QString &name : names) {
        for (const QChar c : escapedForLog(name)) {
            if (c.category() == QChar::Other_Control)
                std::abort();
        }
        const QString url = releaseDownloadUrl(QStringLiteral("https://x.example"), name);
        if (url.isEmpty() != !unsafeFileNameReason(name).isEmpty())
            std::abort();
        if (url.isEmpty())
            continue;
        // One file in the download folder; on the wire the name, whole, as the last segment.
        if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
            name == QLatin1String("..") || name == QLatin1String("."))
            std::abort();
        const QUrl parsed(url);
        const QString wire = parsed.path(QUrl::FullyEncoded);
        if (!wire.startsWith(QLatin1String("/releases/")) || parsed.hasQuery() ||
            parsed.hasFragment() || QUrl::fromPercentEncoding(wire.mid(10).toLatin1()) != name)
            std::abort();
    }
    // Any byte count and length: a defined, non-negative value, at most 100 when all announced
    // bytes came.
    qint64 counts[2] = {0, 0};
    memcpy(counts, data, std::min(size, sizeof counts));
    const qint64 percent = downloadProgressPercent(counts[0], counts[1]);
    if (percent < 0 || (counts[0] <= counts[1] && percent > 100))
        std::abort();
    const qint64 expected = expectedFileSize(QString::fromUtf8(body));
    if (expected == 0 || expected < -1)
        std::abort();
    return 0;
}
