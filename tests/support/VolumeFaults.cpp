#include "tests/support/VolumeFaults.h"

#include <QMutexLocker>

VolumeFaults::VolumeFaults(SimulatedVolumes &volumes)
    : hooked(volumes)
{
    // Direct: a volume is added on any thread, and a fresh medium has nothing written to it.
    freshMedium =
        QObject::connect(&volumes, &SimulatedVolumes::volumeAdded, [this](const QString &label) {
            QMutexLocker lock(&faultsMutex);
            limits[label].written = 0;
        });
    hooked.setHooks(this);
}

VolumeFaults::~VolumeFaults()
{
    hooked.setHooks(nullptr);
    QObject::disconnect(freshMedium);
}

qint64 VolumeFaults::admit(const QString &label, qint64 bytes)
{
    QMutexLocker lock(&faultsMutex);
    Limits &l = limits[label];
    if (l.vanishAfter >= 0 && l.written + bytes > l.vanishAfter) {
        lock.unlock();
        hooked.removeVolume(label);
        return -1;
    }
    const qint64 room = l.capacity < 0 ? bytes : qMax<qint64>(0, l.capacity - l.written);
    const qint64 admitted = qMin(bytes, room);
    l.written += admitted;
    return bytes > 0 && admitted == 0 ? -1 : admitted;
}
