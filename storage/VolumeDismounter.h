#pragma once

#include <QString>

// Detaches a mounted volume from the system so that the instrument can take its storage back.
// Called on the FileManager's worker thread.
class VolumeDismounter
{
public:
    virtual ~VolumeDismounter();

    // True only when the volume mounted at rootPath is really gone.
    virtual bool dismount(const QString &rootPath) = 0;
};
