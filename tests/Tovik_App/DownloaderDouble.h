#pragma once

#include "RecordingDouble.h"

#include <QString>

// Stands in for Downloader in front of the window: same signals and invokables, no network.
class DownloaderDouble : public RecordingDouble
{
    Q_OBJECT
public:
    using RecordingDouble::RecordingDouble;

    Q_INVOKABLE void downloadFile() { record(QStringLiteral("downloadFile")); }

signals:
    void releasesJsonFetched();
    void latestVersionFetched(QString version);
    void downloadingProgressBar(qint64 progress);
    void versionCheck(bool flag);
    void downloadStatus(bool success, QString message);
    void downloadFinished(bool success, QString updateFilePath, QString updateFileName);
    void setDeviceToTransferMode(bool success);
};
