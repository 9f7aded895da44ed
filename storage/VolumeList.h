#pragma once

#include <QList>
#include <QString>

#include <memory>

class QFile;

// One mounted volume as the lookups see it.
struct VolumeEntry
{
    QString rootPath;
    QString displayName; // the label, or the root path when the volume has none
    bool valid = false;
    bool ready = false;
    bool readOnly = false;
};

// Where the mounted volumes come from. Called on the FileManager's worker thread, so an
// implementation shared with another thread must be thread-safe.
class VolumeList
{
public:
    virtual ~VolumeList();

    // Read anew on every call, in the system's order.
    virtual QList<VolumeEntry> mountedVolumes() = 0;
    // A file on a mounted volume, not yet open. The copy writes through it, so a volume that
    // goes away makes its writes fail as a vanished device does.
    virtual std::unique_ptr<QFile> fileOnVolume(const QString &path) = 0;
    // Waits until what was written to the open file is on the device, and until a folder's
    // entries are. A volume that cannot say so makes the step fail.
    virtual bool flushToDevice(QFile &file);
    virtual bool flushDirectory(const QString &path);
};
