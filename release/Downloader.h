#pragma once

#include <QObject>
#include <QString>

// Placeholder until the release client lands: the declarations the window and main need.
class Downloader : public QObject
{
    Q_OBJECT
public:
    explicit Downloader(QObject *parent = nullptr);

    void fetchReleasesJson();
    Q_INVOKABLE void downloadFile();

    QString downloadUrl;
    QString latestVersion;

signals:
    void releasesJsonFetched();
    void latestVersionFetched(QString version);
    void downloadingProgressBar(qint64 progress);
    void versionCheck(bool flag);
    void downloadStatus(bool success, QString message);
    void downloadFinished(bool success, QString updateFilePath, QString updateFileName);
    void setDeviceToTransferMode(bool success);

public slots:
    void tovikReceivedVersion(QString version);
};
