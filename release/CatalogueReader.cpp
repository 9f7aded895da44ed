#include "release/CatalogueReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QUrl>

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
    for (const QChar c : fileName) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("the file name holds a control character");
    }
    if (fileName.startsWith(QLatin1Char('/')) || fileName.startsWith(QLatin1Char('\\')))
        return QStringLiteral("the file name is an absolute path");
    if (fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\')))
        return QStringLiteral("the file name holds a path separator");
    if (fileName == QLatin1String(".") || fileName == QLatin1String(".."))
        return QStringLiteral("the file name names a directory");
    // A colon selects another drive or an alternate data stream on Windows.
    if (fileName.contains(QLatin1Char(':')))
        return QStringLiteral("the file name holds a drive or stream separator");
    // The instrument's FAT volume refuses these, and only the copy onto it would find out.
    for (const QChar c : QStringLiteral("\"*<>?|")) {
        if (fileName.contains(c))
            return QStringLiteral("the file name holds \"%1\", which the instrument cannot store")
                .arg(c);
    }
    // Windows drops a trailing dot or blank, so the file would be saved under another name.
    if (fileName.endsWith(QLatin1Char('.')) || fileName.endsWith(QLatin1Char(' ')))
        return QStringLiteral("the file name ends in a dot or blank");
    // "con.tvq" opens the console on Windows, whatever the extension.
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|com\\d|lpt\\d)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (device.match(fileName.section(QLatin1Char('.'), 0, 0).trimmed()).hasMatch())
        return QStringLiteral("the file name is a Windows device name");
    return QString();
}

QString releaseDownloadUrl(const QString &baseUrl, const QString &fileName)
{
    if (!unsafeFileNameReason(fileName).isEmpty())
        return QString();
    return baseUrl + QLatin1String("/releases/") +
           QString::fromLatin1(QUrl::toPercentEncoding(fileName));
}

qint64 expectedFileSize(const QString &totalFileSize)
{
    for (const QChar c : totalFileSize) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    bool ok = false;
    const qint64 size = totalFileSize.toLongLong(&ok);
    return ok && size > 0 ? size : -1;
}

QString escapedForLog(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c.category() == QChar::Other_Control)
            escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
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
