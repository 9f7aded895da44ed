#include "storage/StorageVolumeList.h"

#include "storage/UdevLabel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStorageInfo>

std::function<QString(const QStorageInfo &)> StorageVolumeList::displayNames() const
{
    // Canonical device path -> decoded label.
    QHash<QString, QString> labels;
    const QFileInfoList links =
        QDir(byLabelDir)
            .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        if (!link.isSymLink())
            continue;
        const QString device = link.canonicalFilePath();
        if (device.isEmpty())
            continue; // a dangling link: the device has gone
        labels.insert(device, decodeUdevLabel(QFile::encodeName(link.fileName())));
    }
    return [labels](const QStorageInfo &info) {
        const QString device = QFileInfo(QFile::decodeName(info.device())).canonicalFilePath();
        const QString label = device.isEmpty() ? QString() : labels.value(device);
        return label.isEmpty() ? info.rootPath() : label;
    };
}
