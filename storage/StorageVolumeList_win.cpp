#include "storage/StorageVolumeList.h"

#include <QStorageInfo>

std::function<QString(const QStorageInfo &)> StorageVolumeList::displayNames() const
{
    return &QStorageInfo::displayName;
}
