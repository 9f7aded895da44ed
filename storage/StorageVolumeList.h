#pragma once

#include "storage/VolumeList.h"

#include <functional>

class QStorageInfo;

// The system's mounted volumes through QStorageInfo.
class StorageVolumeList : public VolumeList
{
public:
    explicit StorageVolumeList(const QString &byLabelDir = QStringLiteral("/dev/disk/by-label"));

    QList<VolumeEntry> mountedVolumes() override;
    std::unique_ptr<QFile> fileOnVolume(const QString &path) override;

private:
    // How this system names a volume, looked up once per listing: on Linux by the label that
    // udev publishes as a link in byLabelDir (Qt 6.4 hands it back still escaped), elsewhere by
    // Qt's own display name.
    std::function<QString(const QStorageInfo &)> displayNames() const;

    QString byLabelDir;
};
