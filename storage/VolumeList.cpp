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
    // The seams take UTF-8 everywhere; QFile::encodeName would be the ANSI code page on Windows.
    return flushDirectoryToDevice(path.toStdString());
}
