#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One release object of the catalogue, every key read as text ("" when missing or not a string).
struct CatalogueRelease
{
    QString fileName;
    QString version;
    QString totalFileSize;
    QString releaseDate;
    QString codeName;
    QString uuid;
};

// Reads the catalogue body: the top-level array in order; anything else gives no release.
QList<CatalogueRelease> readCatalogue(const QByteArray &body);

// Why a catalogue file name must not be used as a file name on disk; empty when it is safe.
// The name ends up as a path in the download directory, so anything that could leave that
// directory (absolute paths, separators, "..", drive prefixes) is refused.
QString unsafeFileNameReason(const QString &fileName);

// The URL text of a release's update file, or empty when the file name is unsafe.
QString releaseDownloadUrl(const QString &baseUrl, const QString &fileName);

// Whole percentage of a download; 0 while the total is unknown (no Content-Length).
qint64 downloadProgressPercent(qint64 received, qint64 total);
