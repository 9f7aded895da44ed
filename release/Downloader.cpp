#include "release/Downloader.h"

#include "diagnostics/Logging.h"
#include "release/CatalogueReader.h"
#include "release/DownloadFolder.h"
#include "release/MinimumSpeedWatch.h"
#include "release/VersionOrder.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMetaType>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QStorageInfo>

namespace {
// Received bytes go to disk in slices of this size while the rest is still arriving.
constexpr qsizetype spillBytes = qsizetype(1) << 20;
constexpr qint64 downloadReadBufferBytes = qint64(4) << 20;

const QString noCatalogueReason =
    QStringLiteral("The list of releases could not be fetched. Please check the internet "
                   "connection, then start the application again.");
const QString noReleaseReason =
    QStringLiteral("The release server offers no update file that can be downloaded.");

// The seams take UTF-8 on every system; QFile::encodeName would be the ANSI code page on Windows.
std::string nativePath(const QString &path)
{
    return path.toStdString();
}

QString fromNativePath(const std::string &path)
{
    return QString::fromStdString(path);
}
} // namespace

QStringList curlFallbackArguments(const QString &url, const QString &outputPath)
{
    const QString limitSeconds = QString::number(transferInactivityLimitMs / 1000);
    // -q must come first: it keeps the user's ~/.curlrc (which may say "insecure") out.
    QStringList arguments{QStringLiteral("-q"), QStringLiteral("--fail")};
    // --silent --show-error keeps the progress meter out of the error text shown to the user.
    arguments << QStringLiteral("--silent") << QStringLiteral("--show-error");
    // Qt refuses a redirect from https to http; so must the fallback.
    if (QUrl(url).scheme() == QLatin1String("https"))
        arguments << QStringLiteral("--proto") << QStringLiteral("=https")
                  << QStringLiteral("--proto-redir") << QStringLiteral("=https");
    arguments << QStringLiteral("--connect-timeout") << limitSeconds
              << QStringLiteral("--speed-limit") << QString::number(minimumBytesPerSecond)
              << QStringLiteral("--speed-time") << limitSeconds << QStringLiteral("-L")
              << QStringLiteral("-o") << outputPath << url;
    return arguments;
}

QString defaultDownloadDirectory()
{
    // Qt gives no location when TMPDIR names a folder that does not exist: the folder would
    // then be made at the root of the file system.
    QString location = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (location.isEmpty() || !QFileInfo(location).isDir())
        location = fromNativePath(systemTempLocation());
    return fromNativePath(privateDownloadFolder(nativePath(location)));
}

Downloader::Downloader(QObject *parent)
    : Downloader(QUrl(QLatin1String(releaseServerBaseUrl)), parent)
{
}

Downloader::Downloader(const QUrl &baseUrl, QObject *parent)
    : QObject(parent)
    , downloadDirectory(defaultDownloadDirectory())
    , serverBaseUrl(baseUrl.toString(QUrl::StripTrailingSlash))
{
    qRegisterMetaType<QNetworkReply *>();
    connect(&networkManager, &QNetworkAccessManager::finished, this,
            &Downloader::onReleasesJsonFetched);
}

void Downloader::tovikReceivedVersion(const QString &reported)
{
    deviceVersion = reported;
    deviceVersionReported = true;
    if (!expectedAfterUpdate.isEmpty())
        confirmUpdate();
    checkInstrumentVersion();
}

void Downloader::onFileTransferComplete(bool success)
{
    // A release that does not say its version cannot be confirmed by any report.
    if (success && isKnownFirmwareVersion(version))
        expectedAfterUpdate = version;
}

void Downloader::checkInstrumentVersion()
{
    // Only the newest release is ever offered; without one there is nothing to decide.
    if (!deviceVersionReported || !catalogueArrived || downloadUrl.isEmpty())
        return;
    const QStringList versions{deviceVersion, version};
    if (versions == checkedVersions)
        return;
    checkedVersions = versions;
    // An instrument that does not say which firmware it runs keeps being offered the update; one
    // on the newest release or newer (a pre-release) is never offered a downgrade.
    const bool current = isKnownFirmwareVersion(deviceVersion) && isKnownFirmwareVersion(version) &&
                         compareFirmwareVersions(deviceVersion, version) >= 0;
    qInfo().noquote() << QStringLiteral("DW: Tovik runs %1, the newest release is %2: %3")
                             .arg(escapedForLog(deviceVersion), escapedForLog(version),
                                  current ? QStringLiteral("already up to date")
                                          : QStringLiteral("update offered"));
    // The window offers the update until told otherwise, so "offered" is news only after "up
    // to date" (another instrument was connected).
    const bool wasUpToDate = upToDate;
    upToDate = current;
    if (current || wasUpToDate)
        emit versionCheck(current);
}

void Downloader::confirmUpdate()
{
    const QString reported = escapedForLog(deviceVersion);
    if (!isKnownFirmwareVersion(deviceVersion)) {
        // No answer either way: a later report may still say which firmware it runs.
        qWarning().noquote()
            << QStringLiteral("DW: Update not confirmed yet: Tovik reports no usable version (%1)")
                   .arg(reported);
        return;
    }
    const bool taken = compareFirmwareVersions(deviceVersion, expectedAfterUpdate) >= 0;
    if (taken)
        qInfo().noquote() << QStringLiteral("DW: Update confirmed: Tovik runs %1").arg(reported);
    else
        qWarning().noquote() << QStringLiteral("DW: Update not confirmed: Tovik reports %1, "
                                               "expected %2")
                                    .arg(reported, escapedForLog(expectedAfterUpdate));
    expectedAfterUpdate.clear();
    emit updateConfirmed(taken, deviceVersion);
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
    QNetworkReply *reply = networkManager.get(plainRequest(url));
    // Start Update may be waiting for it: a dripping catalogue must end too.
    MinimumSpeedWatch::watch(reply, QStringLiteral("Release catalogue"));
    catalogueReplies.insert(reply);
}

void Downloader::onReleasesJsonFetched(QNetworkReply *reply)
{
    // Every reply of the manager arrives here; only catalogue replies are read, so a
    // downloaded file can never be taken for a catalogue.
    const bool isCatalogue = catalogueReplies.remove(reply);
    reply->deleteLater();
    if (!isCatalogue)
        return;
    if (reply->error() == QNetworkReply::NoError) {
        catalogueArrived = true;
        const QList<CatalogueRelease> releases = readCatalogue(reply->readAll());
        for (const CatalogueRelease &release : releases) {
            const QString reason = unsafeFileNameReason(release.fileName);
            if (reason.isEmpty()) {
                fileName = release.fileName;
                downloadUrl = releaseDownloadUrl(serverBaseUrl, fileName);
            } else {
                // Both texts come from the server: escaped, they cannot forge a log line.
                qWarning().noquote()
                    << "DW: Release" << escapedForLog(release.version)
                    << "is not offered:" << reason
                    << QStringLiteral("(file name: %1)").arg(escapedForLog(release.fileName));
                fileName.clear();
                downloadUrl.clear();
            }
            version = release.version;
            totalFileSize = release.totalFileSize;
            emit releasesJsonFetched();
            emit latestVersionFetched(version);
        }
        checkInstrumentVersion();
    }
    if (downloadWaitingForCatalogue) {
        downloadWaitingForCatalogue = false;
        downloadFile();
    }
}

void Downloader::failWithoutDownload(const QString &path, const QString &name,
                                     const QString &reason)
{
    qWarning().noquote() << "DW: No download:" << reason;
    endAttempt(false, path, name, reason);
}

void Downloader::endAttempt(bool success, const QString &path, const QString &name,
                            const QString &status, AttemptEnd end)
{
    downloadInProgress = end == AttemptEnd::FallbackFollows;
    if (!status.isEmpty())
        emit downloadStatus(success, status);
    emit downloadFinished(success, path, name);
    emit setDeviceToTransferMode(success);
}

QString Downloader::refusedDownloadFolder()
{
    QString reason = QString::fromStdString(prepareDownloadFolder(nativePath(downloadDirectory)));
    if (!reason.isEmpty() && takeFreshDownloadFolder(reason))
        reason = QString::fromStdString(prepareDownloadFolder(nativePath(downloadDirectory)));
    if (!reason.isEmpty())
        qWarning().noquote() << "DW: Refusing the download folder" << downloadDirectory << ":"
                             << reason;
    return reason.isEmpty() ? QString()
                            : QStringLiteral("The download folder %1 cannot be used safely: %2.")
                                  .arg(downloadDirectory, reason);
}

bool Downloader::takeFreshDownloadFolder(const QString &reason)
{
    // The usual name is predictable: another account may have taken it, which must not stop
    // every update. Only the usual folder is given up, a fresh one is used as it is.
    const QString usual = defaultDownloadDirectory();
    if (downloadDirectory != usual)
        return false;
    std::string error;
    const QString fresh =
        fromNativePath(freshDownloadFolder(nativePath(QFileInfo(usual).path()), &error));
    if (fresh.isEmpty()) {
        qWarning().noquote() << "DW: No fresh download folder beside" << usual << ":"
                             << QString::fromStdString(error);
        return false;
    }
    qWarning().noquote() << QStringLiteral(
                                "DW: The download folder %1 cannot be used (%2); using %3 instead")
                                .arg(usual, reason, fresh);
    downloadDirectory = fresh;
    return true;
}

void Downloader::downloadFile()
{
    if (downloadInProgress) {
        qWarning() << "DW: A download is already running; the new request is ignored";
        return;
    }
    // The catalogue is still on its way: start once it is here (or has been given up, which its
    // own inactivity limit bounds).
    if (!catalogueReplies.isEmpty()) {
        if (!downloadWaitingForCatalogue)
            logTrace(QStringLiteral("DW: Waiting for the release catalogue"));
        downloadWaitingForCatalogue = true;
        return;
    }
    const QUrl url(downloadUrl, QUrl::TolerantMode);
    if (downloadUrl.isEmpty() || !url.isValid()) {
        failWithoutDownload(downloadFilePath, fileName,
                            catalogueArrived ? noReleaseReason : noCatalogueReason);
        return;
    }
    downloadInProgress = true;
    // Checked against the catalogue's size where it gives one: a captive portal's page is not
    // the update, whatever length it announces.
    expectedBytes = expectedFileSize(totalFileSize);
    logTrace(QStringLiteral("DW: Asking the size of ") + url.toString());
    const QString requestedName = fileName;
    QNetworkReply *reply = networkManager.head(plainRequest(url));
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, url, requestedName] { onHeadFinished(reply, url, requestedName); });
}

void Downloader::onHeadFinished(QNetworkReply *reply, const QUrl &url, const QString &requestedName)
{
    reply->deleteLater();
    const QString refusal = refusedDownloadFolder();
    const QString path = downloadDirectory + QLatin1Char('/') + requestedName;
    if (!refusal.isEmpty()) {
        failWithoutDownload(path, requestedName, refusal);
        return;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (reply->error() == QNetworkReply::NoError && length.isValid()) {
        // A length of 0 says nothing about the file: an empty file is never an update.
        if (expectedBytes < 0 && length.toLongLong() > 0)
            expectedBytes = length.toLongLong();
        downloadFilePath = path;
        // Only our own folder is trusted, and only a file itself, not a link to one.
        const QFileInfo existing(downloadFilePath);
        if (expectedBytes > 0 && !existing.isSymLink() && existing.isFile() &&
            existing.size() == expectedBytes) {
            logTrace(QStringLiteral("DW: Complete copy already at ") + downloadFilePath);
            endAttempt(true, downloadFilePath, requestedName);
            return;
        }
    }

    const QString shortage = notEnoughSpace(expectedBytes);
    if (!shortage.isEmpty()) {
        failWithoutDownload(path, requestedName, shortage);
        return;
    }

    // A second download must never start with the bytes of an earlier one.
    discardPartialFile();
    downloadBuffer.clear();
    bytesReceived = 0;
    diskWriteFailed = false;
    spaceShortage.clear();
    partialPath = path + QLatin1String(".part");
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

    MinimumSpeedWatch::watch(download, QStringLiteral("Download"));
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

bool Downloader::openPartialFile()
{
    if (partialFile.isOpen())
        return true;
    if (diskWriteFailed)
        return false;
    std::string error;
    const int descriptor = refusedDownloadFolder().isEmpty()
                               ? createFileNoFollow(nativePath(partialPath), &error)
                               : -1;
    if (descriptor < 0 ||
        !partialFile.open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        qWarning().noquote() << "DW: Could not open the update file" << partialPath << ":"
                             << QString::fromStdString(error);
        diskWriteFailed = true;
        return false;
    }
    return true;
}

void Downloader::spillToPartialFile()
{
    // Writing while the rest arrives keeps a large file out of memory and the final save short.
    if (openPartialFile() && partialFile.write(downloadBuffer) != downloadBuffer.size()) {
        spaceShortage = notEnoughSpace(qMax(expectedBytes, bytesReceived));
        qWarning().noquote() << "DW: Could not write the update file" << partialPath << ":"
                             << (spaceShortage.isEmpty() ? partialFile.errorString()
                                                         : spaceShortage);
        diskWriteFailed = true;
        discardPartialFile();
    }
    // After a failed write the rest is only counted: the outcome is a failed save either way.
    downloadBuffer.truncate(0);
}

void Downloader::discardPartialFile()
{
    if (partialPath.isEmpty())
        return;
    const bool created = partialFile.isOpen();
    partialFile.close();
    if (created)
        QFile::remove(partialPath);
}

void Downloader::onFileDownloaded(QNetworkReply *reply, const QString &requestedName)
{
    if (reply->bytesAvailable() > 0)
        onReadyRead(reply);
    reply->deleteLater();
    // The very URL Qt asked for, encoding included.
    const QString url = reply->request().url().toString(QUrl::FullyEncoded);
    const QString path = downloadDirectory + QLatin1Char('/') + requestedName;
    const bool saved = reply->error() == QNetworkReply::NoError && isUpdateAnswer(reply) &&
                       receivedWholeFile(reply) && saveDownloadedFile(path, downloadBuffer);
    // The file is on disk or is fetched again: neither the bytes nor a partial file are needed.
    discardPartialFile();
    downloadBuffer = QByteArray();
    // curl would only fill the same disk.
    if (!saved && !spaceShortage.isEmpty())
        failWithoutDownload(path, requestedName, spaceShortage);
    else if (!saved)
        downloadWithCurl(url, path);
}

QString Downloader::notEnoughSpace(qint64 needed) const
{
    const QStorageInfo volume(downloadDirectory);
    const qint64 available = volume.isValid() ? volume.bytesAvailable() : -1;
    if (needed <= 0 || available < 0 || available >= needed)
        return QString();
    const QLocale locale;
    return QStringLiteral("There is not enough space for the update in %1: it needs %2, and only "
                          "%3 are free.")
        .arg(QDir::toNativeSeparators(downloadDirectory), locale.formattedDataSize(needed),
             locale.formattedDataSize(available));
}

bool Downloader::isUpdateAnswer(QNetworkReply *reply) const
{
    // A 204 or an empty 200 ends without an error, but holds no update to flash.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 200 && bytesReceived > 0)
        return true;
    qWarning().noquote() << "DW: The server's answer holds no update file: HTTP" << status << "with"
                         << bytesReceived << "bytes";
    return false;
}

bool Downloader::receivedWholeFile(QNetworkReply *reply) const
{
    // Fewer or more bytes than announced, or than the release has: what we hold is not the file
    // the server meant, even when the body simply ended early without a Content-Length.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 wanted = length.isValid() && length.toLongLong() != bytesReceived
                              ? length.toLongLong()
                              : expectedBytes;
    if (wanted < 0 || wanted == bytesReceived)
        return true;
    qWarning().noquote() << "DW: Download incomplete: received" << bytesReceived << "of" << wanted
                         << "bytes";
    return false;
}

bool Downloader::saveDownloadedFile(const QString &path, const QByteArray &data)
{
    // Every byte goes to "<name>.part" first, so the final name only ever holds a complete file
    // and a failed save leaves an earlier complete copy as it was.
    const bool alreadyReported = diskWriteFailed;
    bool saved = openPartialFile() && partialFile.write(data) == data.size();
    partialFile.close();
    saved = saved && partialFile.error() == QFileDevice::NoError;
    std::string error = partialFile.errorString().toStdString();
    saved = saved && replaceFile(nativePath(partialPath), nativePath(path), &error);
    const QString name = QFileInfo(path).fileName();
    if (!saved && spaceShortage.isEmpty()) {
        spaceShortage = notEnoughSpace(qMax(expectedBytes, bytesReceived));
        error = spaceShortage.isEmpty() ? error : spaceShortage.toStdString();
    }
    if (saved) {
        downloadFilePath = path;
        logTrace(QStringLiteral("DW: Update file saved at ") + path);
        endAttempt(true, downloadFilePath, name);
        return true;
    }
    if (!alreadyReported && !diskWriteFailed)
        qWarning().noquote() << "DW: Could not save the update file" << path << ":"
                             << QString::fromStdString(error);
    QFile::remove(partialPath);
    endAttempt(false, downloadFilePath, name, QString(), AttemptEnd::FallbackFollows);
    return false;
}

void Downloader::downloadWithCurl(const QString &url, const QString &outputPath)
{
    emit downloadStatus(true, QStringLiteral("Hmm, the download didn\u2019t go through"));
    const QString refusal = refusedDownloadFolder();
    if (!refusal.isEmpty()) {
        finishFallback(nullptr, outputPath, false, refusal);
        return;
    }
    logTrace(QStringLiteral("DW: Falling back to curl for ") + url);
    // curl writes where a link would lead it: nothing may be at its output path beforehand.
    const QString curlOutput = outputPath + QLatin1String(".part");
    QFile::remove(curlOutput);
    auto *process = new QProcess(this);
    connect(process, &QProcess::finished, this,
            [this, process, outputPath, curlOutput](int exitCode, QProcess::ExitStatus status) {
                const bool ran = exitCode == 0 && status == QProcess::NormalExit;
                QString problem = ran ? checkCurlResult(outputPath)
                                      : QString::fromUtf8(process->readAllStandardError());
                // 23: curl could not write; say why where it is the disk.
                const QString shortage =
                    notEnoughSpace(qMax(expectedBytes, QFileInfo(curlOutput).size() + 1));
                if (status == QProcess::NormalExit && exitCode == 23 && !shortage.isEmpty())
                    problem = shortage;
                const bool success = ran && problem.isEmpty();
                if (!success)
                    QFile::remove(curlOutput);
                finishFallback(process, outputPath, success, problem);
            });
    // A program that never starts never finishes either: report it instead of waiting.
    connect(process, &QProcess::errorOccurred, this,
            [this, process, outputPath](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    finishFallback(process, outputPath, false, process->errorString());
            });
    process->start(QStringLiteral("curl"), curlFallbackArguments(url, curlOutput),
                   QIODevice::ReadWrite);
}

QString Downloader::checkCurlResult(const QString &outputPath)
{
    const QString curlOutput = outputPath + QLatin1String(".part");
    const QFileInfo result(curlOutput);
    if (result.isSymLink() || !result.isFile())
        return QStringLiteral("curl left no file");
    if (result.size() == 0)
        return QStringLiteral("the downloaded file is empty");
    if (expectedBytes >= 0 && result.size() != expectedBytes)
        return QStringLiteral("the downloaded file has %1 bytes instead of %2")
            .arg(result.size())
            .arg(expectedBytes);
    std::string error;
    if (!replaceFile(nativePath(curlOutput), nativePath(outputPath), &error))
        return QStringLiteral("the file could not be saved: ") + QString::fromStdString(error);
    return QString();
}

void Downloader::finishFallback(QProcess *process, const QString &outputPath, bool success,
                                const QString &problem)
{
    const QString message = success ? QStringLiteral("Download completed")
                                    : QStringLiteral("Fallback failed: ") + problem;
    logTrace(QStringLiteral("DW: curl ended: ") + message);
    endAttempt(success, outputPath, QFileInfo(outputPath).fileName(), message);
    if (process)
        process->deleteLater();
}
