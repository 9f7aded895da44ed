#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

// The maker's release server; the catalogue and the update files live under "/releases/".
inline constexpr char releaseServerBaseUrl[] = "https://releases.tovik-instruments.example";

// A request that receives no byte for this long is given up, on both download routes; so is a
// download that gets fewer bytes a second than the minimum over that long.
inline constexpr int transferInactivityLimitMs = 60000;
inline constexpr int minimumBytesPerSecond = 1;

// The arguments for the curl fallback: no user configuration file, fail on HTTP errors instead
// of saving the error page, stay on https when the release is on https, give up on a connection
// or transfer that stalls, and write to an absolute path in the download folder.
QStringList curlFallbackArguments(const QString &url, const QString &outputPath);

// The per-user folder that downloads go to inside the temporary location (the system's when
// the user's does not exist).
QString defaultDownloadDirectory();

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
    // After a successful copy, the first version the instrument reports: at least the copied
    // release's (success) or older.
    void updateConfirmed(bool success, const QString &version);

public slots:
    void tovikReceivedVersion(const QString &version);
    // A successful copy arms the confirmation by the instrument's next version report.
    void onFileTransferComplete(bool success);

private slots:
    void onReleasesJsonFetched(QNetworkReply *reply);
    void onFileDownloaded(QNetworkReply *reply, const QString &fileName);
    void onReadyRead(QNetworkReply *reply);

private:
    // After a failed save the fallback still follows, so the download is not over yet.
    enum class AttemptEnd { DownloadOver, FallbackFollows };

    QNetworkRequest plainRequest(const QUrl &url) const;
    // The one place an attempt reports its outcome, in the order the receivers rely on: the
    // status message where there is one, then the file, then the switch to update mode.
    void endAttempt(bool success, const QString &path, const QString &name,
                    const QString &status = QString(), AttemptEnd end = AttemptEnd::DownloadOver);
    void failWithoutDownload(const QString &path, const QString &name, const QString &reason);
    QString refusedDownloadFolder();
    bool takeFreshDownloadFolder(const QString &reason);
    void onHeadFinished(QNetworkReply *reply, const QUrl &url, const QString &requestedName);
    bool isUpdateAnswer(QNetworkReply *reply) const;
    bool receivedWholeFile(QNetworkReply *reply) const;
    // The plain words for a download folder that cannot hold `needed` bytes; empty when it can
    // or when that is not known.
    QString notEnoughSpace(qint64 needed) const;
    bool saveDownloadedFile(const QString &path, const QByteArray &data);
    bool openPartialFile();
    void spillToPartialFile();
    void discardPartialFile();
    void downloadWithCurl(const QString &url, const QString &outputPath);
    QString checkCurlResult(const QString &outputPath);
    void finishFallback(QProcess *process, const QString &outputPath, bool success,
                        const QString &problem);

    // Once both the instrument's version and the newest release are known, whether the
    // instrument needs it; logged and told to the window whenever the answer may have changed.
    void checkInstrumentVersion();
    void confirmUpdate();

    QString serverBaseUrl;
    // The instrument's version as it last reported it, once it has reported one.
    QString deviceVersion;
    bool deviceVersionReported = false;
    // The instrument's and the release's versions of the last decision, and its answer.
    QStringList checkedVersions;
    bool upToDate = false;
    // From a successful copy until the instrument reports its version: the copied release's.
    QString expectedAfterUpdate;
    QSet<QNetworkReply *> catalogueReplies;
    // A catalogue reply ended without a network or HTTP error.
    bool catalogueArrived = false;
    // Start Update came while the catalogue was still on its way.
    bool downloadWaitingForCatalogue = false;
    // The download is written next to its final name ("<name>.part") while it arrives, and
    // takes that name only once it is complete.
    QFile partialFile;
    QString partialPath;
    qint64 bytesReceived = 0;
    // The size the file must have; -1 when neither the catalogue nor the HEAD reply says.
    qint64 expectedBytes = -1;
    bool diskWriteFailed = false;
    // Why the disk could not take the file; the fallback is then pointless.
    QString spaceShortage;
    // Both routes share downloadBuffer and the target file, so only one download runs at once.
    bool downloadInProgress = false;
};
