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
// The name becomes one file in the download folder and on the instrument's volume, so anything
// that names another place (separators, ".", "..", a drive or stream colon, a Windows device,
// a name Windows would silently shorten), that the instrument's FAT volume cannot hold, or that
// could forge a log line is refused.
QString unsafeFileNameReason(const QString &fileName);

// The URL text of a release's update file, the name encoded as one path segment ("#", "%" and
// blanks are part of the name), or empty when the file name is unsafe.
QString releaseDownloadUrl(const QString &baseUrl, const QString &fileName);

// The catalogue's "total_file_size" when it is a positive whole number of bytes, else -1.
qint64 expectedFileSize(const QString &totalFileSize);

// Outside text for one log line: control characters and backslashes written as escapes.
QString escapedForLog(const QString &text);

// Whole percentage of a download; 0 while the total is unknown (no Content-Length).
qint64 downloadProgressPercent(qint64 received, qint64 total);
