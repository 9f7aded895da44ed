#include "storage/StorageVolumeList.h"

#include "storage/UdevLabel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

StorageVolumeList::StorageVolumeList(const QString &labelDir)
    : byLabelDir(labelDir)
{
}

QHash<QString, QString> StorageVolumeList::readLabels(const QString &labelDir)
{
    QHash<QString, QString> labels;
    const QFileInfoList links = QDir(labelDir).entryInfoList(
        QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        if (!link.isSymLink())
            continue;
        const QString device = link.canonicalFilePath();
        if (device.isEmpty())
            continue; // a dangling link: the device has gone
        labels.insert(device, decodeUdevLabel(QFile::encodeName(link.fileName())));
    }
    return labels;
}

QList<VolumeEntry> StorageVolumeList::mountedVolumes()
{
#if defined(Q_OS_LINUX)
    const QHash<QString, QString> labels = readLabels(byLabelDir);
#endif
    QList<VolumeEntry> result;
    const QList<QStorageInfo> infos = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &info : infos) {
        VolumeEntry entry;
        entry.rootPath = info.rootPath();
        entry.valid = info.isValid();
        entry.ready = info.isReady();
        entry.readOnly = info.isReadOnly();
#if defined(Q_OS_LINUX)
        const QString device = QFileInfo(QFile::decodeName(info.device())).canonicalFilePath();
        entry.displayName = device.isEmpty() ? QString() : labels.value(device);
        if (entry.displayName.isEmpty())
            entry.displayName = entry.rootPath;
#else
        entry.displayName = info.displayName();
#endif
        result.append(entry);
    }
    return result;
}

std::unique_ptr<QFile> StorageVolumeList::fileOnVolume(const QString &path)
{
    return std::make_unique<QFile>(path);
}
