#include "storage/VolumeList.h"

#include "storage/DeviceFlush.h"

#include <QFile>

VolumeList::~VolumeList() = default;

bool VolumeList::flushToDevice(QFile &file)
{
    return file.flush() && flushFileToDevice(file.handle());
}

bool VolumeList::flushDirectory(const QString &path)
{
    return flushDirectoryToDevice(QFile::encodeName(path).toStdString());
}
