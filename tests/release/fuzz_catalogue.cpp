#include "release/CatalogueReader.h"

#include <QDir>
#include <QFileInfo>

#include <cstdint>
#include <cstdlib>

// Any catalogue body: no crash, and no accepted file name ever leaves the download folder.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<CatalogueRelease> releases = readCatalogue(body);
    // The bytes also serve directly as one candidate name, to reach odd characters quickly.
    QStringList names{QString::fromUtf8(body)};
    for (const CatalogueRelease &release : releases)
        names.append(release.fileName);
    for (const QString &name : names) {
        const QString url = releaseDownloadUrl(QStringLiteral("https://x.example"), name);
        if (url.isEmpty() != !unsafeFileNameReason(name).isEmpty())
            std::abort();
        if (url.isEmpty())
            continue;
        const QString path = QDir::cleanPath(QStringLiteral("/dl/") + name);
        if (QFileInfo(path).path() != QLatin1String("/dl") || name.contains(QLatin1Char('/')) ||
            name.contains(QLatin1Char('\\')) || name.contains(QLatin1String("..")))
            std::abort();
    }
    downloadProgressPercent(qint64(size) * 1000, qint64(size % 7));
    return 0;
}
