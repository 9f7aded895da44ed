#include "sim/volumes/SimulatedVolumes.h"

#include "sim/volumes/SimulatedVolumeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <algorithm>

SimulatedVolumes::SimulatedVolumes(QObject *parent)
    : QObject(parent)
{
}

SimulatedVolumes::~SimulatedVolumes() = default;

void SimulatedVolumes::addVolume(const QString &label, const QString &rootPath, Flags flags)
{
    {
        QMutexLocker lock(&mutex);
        volumes.append(Volume{label, QDir::cleanPath(rootPath), flags});
    }
    emit volumeAdded(label);
}

bool SimulatedVolumes::removeVolume(const QString &label)
{
    {
        QMutexLocker lock(&mutex);
        const auto it = std::find_if(volumes.begin(), volumes.end(),
                                     [&](const Volume &v) { return v.label == label; });
        if (it == volumes.end())
            return false;
        volumes.erase(it);
    }
    emit volumeRemoved(label);
    return true;
}

void SimulatedVolumes::setVolumeFolder(const QString &label, const QString &rootPath, Flags flags)
{
    QMutexLocker lock(&mutex);
    folders.insert(label, Volume{label, QDir::cleanPath(rootPath), flags});
}

void SimulatedVolumes::present(const QString &label)
{
    Volume volume;
    {
        QMutexLocker lock(&mutex);
        if (!folders.contains(label))
            return;
        volume = folders.value(label);
    }
    addVolume(volume.label, volume.rootPath, volume.flags);
}

void SimulatedVolumes::withdraw(const QString &label)
{
    removeVolume(label);
}

void SimulatedVolumes::setDismountError(const QString &label, const QString &error)
{
    QMutexLocker lock(&mutex);
    faults[label].dismountError = error;
}

void SimulatedVolumes::setHooks(Hooks *newHooks)
{
    QMutexLocker lock(&mutex);
    hooks = newHooks;
}

SimulatedVolumes::Hooks *SimulatedVolumes::currentHooks() const
{
    QMutexLocker lock(&mutex);
    return hooks;
}

void SimulatedVolumes::refuseNextWrites(const QString &label, int count)
{
    QMutexLocker lock(&mutex);
    faults[label].writeRefusals = count;
}

bool SimulatedVolumes::isMounted(const QString &label) const
{
    QMutexLocker lock(&mutex);
    return std::any_of(volumes.cbegin(), volumes.cend(),
                       [&](const Volume &v) { return v.label == label; });
}

QList<VolumeEntry> SimulatedVolumes::mountedVolumes()
{
    if (Hooks *test = currentHooks())
        test->lookedUp();
    QMutexLocker lock(&mutex);
    QList<VolumeEntry> entries;
    for (const Volume &v : volumes) {
        VolumeEntry entry;
        entry.rootPath = v.rootPath;
        // An unlabelled medium shows its root path, as the system does.
        entry.displayName = v.label.isEmpty() ? v.rootPath : v.label;
        entry.valid = QFileInfo(v.rootPath).isDir();
        entry.ready = v.flags.ready;
        entry.readOnly = v.flags.readOnly;
        entries.append(entry);
    }
    return entries;
}

qsizetype SimulatedVolumes::volumeIndexForPath(const QString &path) const
{
    const QString clean = QDir::cleanPath(path);
    for (qsizetype i = 0; i < volumes.size(); ++i) {
        const QString &root = volumes.at(i).rootPath;
        if (clean == root || clean.startsWith(root + QLatin1Char('/')))
            return i;
    }
    return -1;
}

std::unique_ptr<QFile> SimulatedVolumes::fileOnVolume(const QString &path)
{
    QMutexLocker lock(&mutex);
    const qsizetype index = volumeIndexForPath(path);
    if (index < 0)
        return std::make_unique<QFile>(path);
    return std::make_unique<SimulatedVolumeFile>(path, volumes.at(index).label, this);
}

qint64 SimulatedVolumes::admitWrite(const QString &label, qint64 bytes)
{
    {
        QMutexLocker lock(&mutex);
        const auto it = std::find_if(volumes.begin(), volumes.end(),
                                     [&](const Volume &v) { return v.label == label; });
        if (it == volumes.end())
            return -1; // the device is gone: nothing reaches it any more
        Faults &f = faults[label];
        if (f.writeRefusals > 0) {
            --f.writeRefusals;
            return -1;
        }
    }
    Hooks *test = currentHooks();
    return test ? test->admit(label, bytes) : bytes;
}

bool SimulatedVolumes::flushToDevice(QFile &file)
{
    const auto *onVolume = qobject_cast<SimulatedVolumeFile *>(&file);
    Hooks *test = currentHooks();
    if (onVolume && test && test->flushFails(onVolume->volumeLabel()))
        return false;
    return VolumeList::flushToDevice(file);
}

bool SimulatedVolumes::flushDirectory(const QString &path)
{
    QString label;
    {
        QMutexLocker lock(&mutex);
        const qsizetype index = volumeIndexForPath(path);
        if (index >= 0)
            label = volumes.at(index).label;
    }
    Hooks *test = currentHooks();
    if (!label.isNull() && test && test->flushFails(label))
        return false;
    return VolumeList::flushDirectory(path);
}

bool SimulatedVolumes::dismount(const QString &rootPath)
{
    if (Hooks *test = currentHooks())
        test->dismounting(rootPath);
    QString label;
    {
        QMutexLocker lock(&mutex);
        const QString clean = QDir::cleanPath(rootPath);
        const auto it = std::find_if(volumes.begin(), volumes.end(),
                                     [&](const Volume &v) { return v.rootPath == clean; });
        if (it == volumes.end())
            return false;
        if (!faults.value(it->label).dismountError.isEmpty())
            return false;
        label = it->label;
        volumes.erase(it);
    }
    emit volumeDismounted(label);
    return true;
}
