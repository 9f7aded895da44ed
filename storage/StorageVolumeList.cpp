#include "storage/StorageVolumeList.h"

#include <QFile>
#include <QStorageInfo>

StorageVolumeList::StorageVolumeList(const QString &labelDir)
    : byLabelDir(labelDir)
{
}

QList<VolumeEntry> StorageVolumeList::mountedVolumes()
{
    const std::function<QString(const QStorageInfo &)> displayName = displayNames();
    QList<VolumeEntry> result;
    const QList<QStorageInfo> infos = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &info : infos) {
        VolumeEntry entry;
        entry.rootPath = info.rootPath();
        entry.displayName = displayName(info);
        entry.valid = info.isValid();
        entry.ready = info.isReady();
        entry.readOnly = info.isReadOnly();
        result.append(entry);
    }
    return result;
}

std::unique_ptr<QFile> StorageVolumeList::fileOnVolume(const QString &path)
{
    return std::make_unique<QFile>(path);
}
