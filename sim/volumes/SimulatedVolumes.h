#pragma once

#include "storage/VolumeDismounter.h"
#include "storage/VolumeList.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>

struct SimulatedVolumeFlags
{
    bool readOnly = false;
    bool ready = true;
};

// Folders that play the instrument's volumes: a FileManager sees them through its two seams,
// while the demo or a test makes them appear, vanish or misbehave from any thread.
//
// Volumes are listed in the order they were added. A label can be given a folder once
// (setVolumeFolder) and then be presented and withdrawn by label, which is how the simulated
// instrument's volumePresented/volumeWithdrawn map onto it. A dismount removes the volume and
// emits volumeDismounted from the calling thread (connect queued).
class SimulatedVolumes : public QObject, public VolumeList, public VolumeDismounter
{
    Q_OBJECT
public:
    using Flags = SimulatedVolumeFlags;

    // A test's hand on the host's calls, asked without the lock held: it sees each lookup and
    // dismount attempt and may shorten or fail writes and flushes.
    class Hooks
    {
    public:
        virtual ~Hooks() = default;
        virtual void lookedUp() = 0;
        virtual void dismounting(const QString &rootPath) = 0;
        // How many of these bytes a write to a file on the volume takes; -1: the write fails.
        virtual qint64 admit(const QString &label, qint64 bytes) = 0;
        virtual bool flushFails(const QString &label) = 0;
    };

    explicit SimulatedVolumes(QObject *parent = nullptr);
    ~SimulatedVolumes() override;

    // Mounts a folder under a label; a second volume of the same label is listed after the first.
    void addVolume(const QString &label, const QString &rootPath, Flags flags = Flags());
    // Unmounts the first volume of that label, as pulling the cable does; false if none.
    bool removeVolume(const QString &label);
    // The folder (and flags) present(label) mounts.
    void setVolumeFolder(const QString &label, const QString &rootPath, Flags flags = Flags());

    // Null: no test hooks.
    void setHooks(Hooks *hooks);

    // Faults. An empty error clears it.
    // Dismounts of this label are refused and the volume stays, as when a file is held open.
    void setDismountError(const QString &label, const QString &error);
    // The next this many writes to files on this volume fail, as a glitch on the cable does;
    // later ones work again.
    void refuseNextWrites(const QString &label, int count);

    bool isMounted(const QString &label) const;

    // VolumeList
    QList<VolumeEntry> mountedVolumes() override;
    std::unique_ptr<QFile> fileOnVolume(const QString &path) override;
    bool flushToDevice(QFile &file) override;
    bool flushDirectory(const QString &path) override;
    // VolumeDismounter
    bool dismount(const QString &rootPath) override;

    // Called by the sim file while a copy runs: how many of the bytes may be written, -1 when
    // the write fails.
    qint64 admitWrite(const QString &label, qint64 bytes);

public slots:
    void present(const QString &label);
    void withdraw(const QString &label);

signals:
    void volumeAdded(const QString &label);
    void volumeRemoved(const QString &label);
    void volumeDismounted(const QString &label);

private:
    struct Volume
    {
        QString label;
        QString rootPath;
        Flags flags;
    };
    struct Faults
    {
        QString dismountError;
        int writeRefusals = 0;
    };

    // Index of the mounted volume whose root contains path, or -1. Caller holds the lock.
    qsizetype volumeIndexForPath(const QString &path) const;
    Hooks *currentHooks() const;

    mutable QMutex mutex;
    QList<Volume> volumes;
    QHash<QString, Volume> folders;
    QHash<QString, Faults> faults;
    Hooks *hooks = nullptr;
};
