#pragma once

#include <QByteArray>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

// The maker's release server; the catalogue and the update files live under "/releases/".
inline constexpr char releaseServerBaseUrl[] = "https://releases.tovik-instruments.example";

// A request that receives no byte for this long is given up, on both download routes.
inline constexpr int transferInactivityLimitMs = 60000;

// The arguments for the curl fallback: fail on HTTP errors instead of saving the error page,
// give up on a stalled transfer, and write to an absolute path in the download directory.
QStringList curlFallbackArguments(const QString &url, const QString &outputPath);

// Client of the release server: the catalogue at start-up and the update file on request.
class Downloader : public QObject
{
    Q_OBJECT
public:
    explicit Downloader(QObject *parent = nullptr);
    // Same client against another server, e.g. one on loopback.
    explicit Downloader(const QUrl &baseUrl, QObject *parent = nullptr);

    QString downloadUrl;
    QString fileName;
    QString totalFileSize;
    QString version;
    QString downloadFilePath;
    QNetworkAccessManager networkManager;
    QString downloadDirectory;
    QByteArray downloadBuffer;

    Q_INVOKABLE void downloadFile();
    void fetchReleasesJson();

signals:
    void downloadFinished(bool success, const QString &updateFilePath,
                          const QString &updateFileName);
    void setDeviceToTransferMode(bool success);
    void releasesJsonFetched();
    void downloadingProgressBar(qint64 progress);
    void latestVersionFetched(const QString &version);
    void versionCheck(bool success);
    void downloadStatus(bool success, const QString &message);

public slots:
    void tovikReceivedVersion(const QString &version);

private slots:
    void onReleasesJsonFetched(QNetworkReply *reply);
    void onFileDownloaded(QNetworkReply *reply, const QString &fileName);
    void onReadyRead(QNetworkReply *reply);

private:
    QNetworkRequest plainRequest(const QUrl &url) const;
    void onHeadFinished(QNetworkReply *reply, const QUrl &url, const QString &requestedName);
    bool saveDownloadedFile(const QString &path, const QByteArray &data);
    void spillToPartialFile();
    void discardPartialFile();
    void downloadWithCurl(const QString &url, const QString &outputPath);
    void finishFallback(QProcess *process, const QString &outputPath, bool success,
                        const QString &message);

    QString serverBaseUrl;
    QSet<QNetworkReply *> catalogueReplies;
    // A large download is written next to its final name ("<name>.part") while it arrives.
    QFile partialFile;
    qint64 bytesReceived = 0;
    bool diskWriteFailed = false;
    // Both routes share downloadBuffer and the target file, so only one download runs at once.
    bool downloadInProgress = false;
};
