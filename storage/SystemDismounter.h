#pragma once

#include "storage/VolumeDismounter.h"

// The system's own way to let go of a volume: on Windows the volume is locked and dismounted
// through its device; on Linux the desktop's disk service (UDisks2) unmounts it, or the kernel
// directly when there is no such service and the program runs as root.
class SystemDismounter : public VolumeDismounter
{
public:
    // An empty address means the system bus; tests hand in a private bus. Windows has no bus.
    explicit SystemDismounter(const QString &address = QString())
        : busAddress(address)
    {
    }

    bool dismount(const QString &rootPath) override;

private:
    QString busAddress;
};
