#pragma once

#include "storage/VolumeList.h"

#include <QHash>

// The system's mounted volumes through QStorageInfo. On Linux the label is the one udev
// publishes as a link in /dev/disk/by-label, which Qt 6.4 hands back still escaped.
class StorageVolumeList : public VolumeList
{
public:
    explicit StorageVolumeList(const QString &byLabelDir = QStringLiteral("/dev/disk/by-label"));

    QList<VolumeEntry> mountedVolumes() override;
    std::unique_ptr<QFile> fileOnVolume(const QString &path) override;

    // Canonical device path -> decoded label, from the links in a by-label folder.
    static QHash<QString, QString> readLabels(const QString &byLabelDir);

private:
    QString byLabelDir;
};
