#include "release/Downloader.h"

#include "diagnostics/Logging.h"
#include "release/CatalogueReader.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QNetworkRequest>
#include <QStandardPaths>

namespace {
// Received bytes go to disk in slices of this size while the rest is still arriving.
constexpr qsizetype spillBytes = qsizetype(1) << 20;
constexpr qint64 downloadReadBufferBytes = qint64(4) << 20;
} // namespace

QStringList curlFallbackArguments(const QString &url, const QString &outputPath)
{
    const QString inactivitySeconds = QString::number(transferInactivityLimitMs / 1000);
    // --silent --show-error keeps the progress meter out of the error text shown to the user.
    return {QStringLiteral("--fail"),
            QStringLiteral("--silent"),
            QStringLiteral("--show-error"),
            QStringLiteral("--speed-limit"),
            QStringLiteral("1"),
            QStringLiteral("--speed-time"),
            inactivitySeconds,
            QStringLiteral("-L"),
            QStringLiteral("-o"),
            outputPath,
            url};
}

Downloader::Downloader(QObject *parent)
    : Downloader(QUrl(QLatin1String(releaseServerBaseUrl)), parent)
{
}

Downloader::Downloader(const QUrl &baseUrl, QObject *parent)
    : QObject(parent)
    , downloadDirectory(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
    , serverBaseUrl(baseUrl.toString(QUrl::StripTrailingSlash))
{
    qRegisterMetaType<QNetworkReply *>();
    connect(&networkManager, &QNetworkAccessManager::finished, this,
            &Downloader::onReleasesJsonFetched);
}

void Downloader::tovikReceivedVersion(const QString &)
{
    // The offered release does not depend on the instrument's version.
}

QNetworkRequest Downloader::plainRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    // Without it a server that stops sending would leave the window waiting forever.
    request.setTransferTimeout(transferInactivityLimitMs);
    return request;
}

void Downloader::fetchReleasesJson()
{
    const QUrl url(serverBaseUrl + QLatin1String("/releases/releases.json"), QUrl::TolerantMode);
    logTrace(QStringLiteral("DW: Requesting the release catalogue"));
    catalogueReplies.insert(networkManager.get(plainRequest(url)));
}

void Downloader::onReleasesJsonFetched(QNetworkReply *reply)
{
    // Every reply of the manager arrives here; only catalogue replies are read, so a
    // downloaded file can never be taken for a catalogue.
    const bool isCatalogue = catalogueReplies.remove(reply);
    if (!isCatalogue || reply->error() != QNetworkReply::NoError) {
        reply->deleteLater();
        return;
    }
    const QList<CatalogueRelease> releases = readCatalogue(reply->readAll());
    for (const CatalogueRelease &release : releases) {
        const QString reason = unsafeFileNameReason(release.fileName);
        if (reason.isEmpty()) {
            fileName = release.fileName;
            downloadUrl = releaseDownloadUrl(serverBaseUrl, fileName);
        } else {
            qWarning().noquote() << "DW: Release" << release.version << "is not offered:" << reason
                                 << QStringLiteral("(file name: %1)").arg(release.fileName);
            fileName.clear();
            downloadUrl.clear();
        }
        version = release.version;
        totalFileSize = release.totalFileSize;
        emit releasesJsonFetched();
        emit latestVersionFetched(version);
    }
    reply->deleteLater();
}

void Downloader::downloadFile()
{
    if (downloadInProgress) {
        qWarning() << "DW: A download is already running; the new request is ignored";
        return;
    }
    const QUrl url(downloadUrl, QUrl::TolerantMode);
    if (downloadUrl.isEmpty() || !url.isValid())
        return;
    downloadInProgress = true;
    logTrace(QStringLiteral("DW: Asking the size of ") + url.toString());
    const QString requestedName = fileName;
    QNetworkReply *reply = networkManager.head(plainRequest(url));
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, url, requestedName] { onHeadFinished(reply, url, requestedName); });
}

void Downloader::onHeadFinished(QNetworkReply *reply, const QUrl &url, const QString &requestedName)
{
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (reply->error() == QNetworkReply::NoError && length.isValid()) {
        const qint64 announced = length.toLongLong();
        downloadFilePath = downloadDirectory + QLatin1Char('/') + requestedName;
        const QFileInfo existing(downloadFilePath);
        if (existing.isFile() && existing.size() == announced) {
            logTrace(QStringLiteral("DW: Complete copy already at ") + downloadFilePath);
            reply->deleteLater();
            downloadInProgress = false;
            emit downloadFinished(true, downloadFilePath, requestedName);
            emit setDeviceToTransferMode(true);
            return;
        }
    }
    reply->deleteLater();

    // A second download must never start with the bytes of an earlier one.
    discardPartialFile();
    downloadBuffer.clear();
    bytesReceived = 0;
    diskWriteFailed = false;
    partialFile.setFileName(downloadDirectory + QLatin1Char('/') + requestedName +
                            QLatin1String(".part"));
    logTrace(QStringLiteral("DW: Downloading ") + url.toString());
    QNetworkReply *download = networkManager.get(plainRequest(url));
    // Bounded: the network thread then waits for us instead of queueing the file in memory.
    download->setReadBufferSize(downloadReadBufferBytes);
    connect(download, &QNetworkReply::readyRead, this, [this, download] { onReadyRead(download); });
    connect(download, &QNetworkReply::finished, this,
            [this, download, requestedName] { onFileDownloaded(download, requestedName); });
    const auto downloadErrorLogger = [download](QNetworkReply::NetworkError code) {
        qWarning() << "DW: Download error occurred:" << code
                   << "Error string:" << download->errorString() << "HTTP Status:"
                   << download->attribute(QNetworkRequest::HttpStatusCodeAttribute)
                   << "Headers:" << download->rawHeaderPairs();
    };
    connect(download, &QNetworkReply::errorOccurred, this, downloadErrorLogger);
}

void Downloader::onReadyRead(QNetworkReply *reply)
{
    const qint64 available = reply->bytesAvailable();
    if (available <= 0)
        return;
    // An error page is not part of the update file and is no progress either.
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400) {
        reply->skip(available);
        return;
    }
    // Read straight into the buffer: one copy per byte instead of two.
    const qsizetype before = downloadBuffer.size();
    downloadBuffer.resize(before + available);
    const qint64 got = reply->read(downloadBuffer.data() + before, available);
    downloadBuffer.resize(before + qMax<qint64>(got, 0));
    if (got <= 0)
        return;
    bytesReceived += got;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    emit downloadingProgressBar(downloadProgressPercent(bytesReceived, announced));
    if (downloadBuffer.size() >= spillBytes)
        spillToPartialFile();
}

void Downloader::spillToPartialFile()
{
    // Writing while the rest arrives keeps a large file out of memory and the final save short.
    if (!diskWriteFailed && !partialFile.isOpen() && !partialFile.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << "DW: Could not open the update file" << partialFile.fileName()
                             << ":" << partialFile.errorString();
        diskWriteFailed = true;
    }
    if (!diskWriteFailed && partialFile.write(downloadBuffer) != downloadBuffer.size()) {
        qWarning().noquote() << "DW: Could not write the update file" << partialFile.fileName()
                             << ":" << partialFile.errorString();
        diskWriteFailed = true;
        discardPartialFile();
    }
    // After a failed write the rest is only counted: the outcome is a failed save either way.
    downloadBuffer.truncate(0);
}

void Downloader::discardPartialFile()
{
    if (partialFile.fileName().isEmpty())
        return;
    const bool created = partialFile.isOpen();
    partialFile.close();
    if (created)
        QFile::remove(partialFile.fileName());
}

void Downloader::onFileDownloaded(QNetworkReply *reply, const QString &requestedName)
{
    if (reply->bytesAvailable() > 0)
        onReadyRead(reply);
    const QString url = reply->request().url().toString();
    const QString path = downloadDirectory + QLatin1Char('/') + requestedName;
    if (reply->error() != QNetworkReply::NoError) {
        discardPartialFile();
        downloadBuffer = QByteArray();
        downloadWithCurl(url, path);
        reply->deleteLater();
        return;
    }
    // Fewer or more bytes than announced: what we hold is not the file the server meant.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != bytesReceived) {
        qWarning().noquote() << "DW: Download incomplete: received" << bytesReceived << "of"
                             << length.toLongLong() << "bytes";
        discardPartialFile();
        downloadBuffer = QByteArray();
        downloadWithCurl(url, path);
        reply->deleteLater();
        return;
    }
    const bool saved = saveDownloadedFile(path, downloadBuffer);
    // The file is on disk (or about to be fetched again): the memory is not needed any more.
    downloadBuffer = QByteArray();
    if (!saved)
        downloadWithCurl(url, path);
    reply->deleteLater();
}

bool Downloader::saveDownloadedFile(const QString &path, const QByteArray &data)
{
    bool saved = false;
    if (partialFile.isOpen() || diskWriteFailed) {
        // Most of the file is already on disk next to its final name: finish it, then put it
        // in place, so the final name only ever holds a complete file.
        saved = !diskWriteFailed && partialFile.write(data) == data.size();
        partialFile.close();
        saved = saved && partialFile.error() == QFileDevice::NoError;
        const QFileInfo target(path);
        if (saved && target.exists() && (!target.isFile() || !QFile::remove(path)))
            saved = false;
        saved = saved && partialFile.rename(path);
        if (!saved) {
            qWarning().noquote() << "DW: Could not save the update file" << path << ":"
                                 << partialFile.errorString();
            QFile::remove(partialFile.fileName());
        } else {
            downloadFilePath = path;
        }
    } else {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            downloadFilePath = path;
            const qint64 written = file.write(data);
            file.close();
            // A full disk must not pass for a complete update file.
            saved = written == data.size() && file.error() == QFileDevice::NoError;
            if (!saved)
                qWarning().noquote()
                    << "DW: Could not write the update file" << path << ":" << file.errorString();
        } else {
            qWarning().noquote() << "DW: Could not open the update file" << path << ":"
                                 << file.errorString();
        }
    }
    const QString name = QFileInfo(path).fileName();
    if (saved) {
        logTrace(QStringLiteral("DW: Update file saved at ") + path);
        downloadInProgress = false;
        emit downloadFinished(true, downloadFilePath, name);
        emit setDeviceToTransferMode(true);
        return true;
    }
    emit downloadFinished(false, downloadFilePath, name);
    emit setDeviceToTransferMode(false);
    return false;
}

void Downloader::downloadWithCurl(const QString &url, const QString &outputPath)
{
    emit downloadStatus(true, QStringLiteral("Hmm, the download didn\u2019t go through"));
    logTrace(QStringLiteral("DW: Falling back to curl for ") + url);
    auto *process = new QProcess(this);
    connect(process, &QProcess::finished, this,
            [this, process, outputPath](int exitCode, QProcess::ExitStatus status) {
                const bool ok = exitCode == 0 && status == QProcess::NormalExit;
                const QString message = ok ? QStringLiteral("Download completed")
                                           : QStringLiteral("Fallback failed: ") +
                                                 QString::fromUtf8(process->readAllStandardError());
                finishFallback(process, outputPath, ok, message);
            });
    // A program that never starts never finishes either: report it instead of waiting.
    connect(process, &QProcess::errorOccurred, this,
            [this, process, outputPath](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    finishFallback(process, outputPath, false,
                                   QStringLiteral("Fallback failed: ") + process->errorString());
            });
    process->start(QStringLiteral("curl"), curlFallbackArguments(url, outputPath),
                   QIODevice::ReadWrite);
}

void Downloader::finishFallback(QProcess *process, const QString &outputPath, bool success,
                                const QString &message)
{
    const QString name = QFileInfo(outputPath).fileName();
    logTrace(QStringLiteral("DW: curl ended: ") + message);
    downloadInProgress = false;
    emit downloadStatus(success, message);
    emit downloadFinished(success, outputPath, name);
    emit setDeviceToTransferMode(success);
    process->deleteLater();
}
