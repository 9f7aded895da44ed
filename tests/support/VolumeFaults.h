#pragma once

#include "sim/volumes/SimulatedVolumes.h"

#include <QHash>
#include <QMutex>
#include <QStringList>

// The faults tests give simulated volumes (a fixture's or the world's) beyond the demo's, and
// what the host asked of them: the lookups and the dismounts attempted (root paths).
class VolumeFaults : public SimulatedVolumes::Hooks
{
public:
    explicit VolumeFaults(SimulatedVolumes &volumes);
    ~VolumeFaults() override;

    // The volume goes away once this many bytes have been written to files on it; the write
    // that crosses the limit fails. Negative: never.
    void setVanishAfterBytes(const QString &label, qint64 bytes)
    {
        set(label, &Limits::vanishAfter, bytes);
    }
    // Once the files written to this volume reach this many bytes it is full: the write that
    // crosses the limit writes what still fits and reports that shorter count, later ones fail,
    // as on a real disk. Negative: unlimited.
    void setCapacity(const QString &label, qint64 bytes) { set(label, &Limits::capacity, bytes); }
    // Flushes of files and folders on this volume to the device fail, as on a medium that has
    // gone bad or away under the system's cache.
    void setFlushError(const QString &label, bool failing)
    {
        set(label, &Limits::flushFails, failing);
    }

    int lookupCount() const
    {
        return locked([&] { return lookups; });
    }
    QStringList dismountRequests() const
    {
        return locked([&] { return dismounts; });
    }
    void resetCounters()
    {
        locked([&] {
            lookups = 0;
            dismounts.clear();
        });
    }

    void lookedUp() override
    {
        locked([&] { ++lookups; });
    }
    void dismounting(const QString &rootPath) override
    {
        locked([&] { dismounts.append(rootPath); });
    }
    qint64 admit(const QString &label, qint64 bytes) override;
    bool flushFails(const QString &label) override
    {
        return locked([&] { return limits.value(label).flushFails; });
    }

private:
    struct Limits
    {
        qint64 vanishAfter = -1;
        qint64 capacity = -1;
        qint64 written = 0;
        bool flushFails = false;
    };
    template<typename T> void set(const QString &label, T Limits::*field, T value)
    {
        locked([&] { limits[label].*field = value; });
    }
    template<typename F> auto locked(F f) const -> decltype(f())
    {
        QMutexLocker lock(&faultsMutex);
        return f();
    }

    SimulatedVolumes &hooked;
    QMetaObject::Connection freshMedium;
    mutable QMutex faultsMutex;
    QHash<QString, Limits> limits;
    int lookups = 0;
    QStringList dismounts;
};
