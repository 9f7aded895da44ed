#include "release/CatalogueReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <limits>

QList<CatalogueRelease> readCatalogue(const QByteArray &body)
{
    const QJsonArray array = QJsonDocument::fromJson(body).array();
    QList<CatalogueRelease> releases;
    releases.reserve(array.size());
    for (const QJsonValue &element : array) {
        // A non-object element reads as an object without keys, so every key is "".
        const QJsonObject object = element.toObject();
        CatalogueRelease release;
        release.fileName = object.value(QLatin1String("file_name")).toString();
        release.version = object.value(QLatin1String("version")).toString();
        release.totalFileSize = object.value(QLatin1String("total_file_size")).toString();
        release.releaseDate = object.value(QLatin1String("release_date")).toString();
        release.codeName = object.value(QLatin1String("code_name")).toString();
        release.uuid = object.value(QLatin1String("uuid")).toString();
        releases.append(release);
    }
    return releases;
}

QString unsafeFileNameReason(const QString &fileName)
{
    if (fileName.isEmpty())
        return QStringLiteral("the file name is empty");
    if (fileName.startsWith(QLatin1Char('/')) || fileName.startsWith(QLatin1Char('\\')))
        return QStringLiteral("the file name is an absolute path");
    if (fileName.size() >= 2 && fileName.at(0).isLetter() && fileName.at(1) == QLatin1Char(':'))
        return QStringLiteral("the file name is an absolute path");
    if (fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\')))
        return QStringLiteral("the file name holds a path separator");
    if (fileName.contains(QLatin1String("..")))
        return QStringLiteral("the file name holds \"..\"");
    if (fileName == QLatin1String("."))
        return QStringLiteral("the file name names the directory itself");
    // A colon selects another drive or an alternate data stream on Windows.
    if (fileName.contains(QLatin1Char(':')))
        return QStringLiteral("the file name holds a drive or stream separator");
    for (const QChar c : fileName) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("the file name holds a control character");
    }
    return QString();
}

QString releaseDownloadUrl(const QString &baseUrl, const QString &fileName)
{
    if (!unsafeFileNameReason(fileName).isEmpty())
        return QString();
    return baseUrl + QLatin1String("/releases/") + fileName;
}

qint64 downloadProgressPercent(qint64 received, qint64 total)
{
    if (total <= 0 || received <= 0)
        return 0;
    const double percent = static_cast<double>(received) / static_cast<double>(total) * 100.0;
    // Truncation toward zero; the cast is only defined inside qint64's range.
    if (!std::isfinite(percent) || percent >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    return static_cast<qint64>(percent);
}
