#pragma once

#include <QFile>
#include <QString>

class SimulatedVolumes;

// A real file in a simulated volume's folder whose writes first ask the volume for room, so that
// a vanished or full volume fails the write as a real device would.
class SimulatedVolumeFile : public QFile
{
    Q_OBJECT
public:
    SimulatedVolumeFile(const QString &path, const QString &label, SimulatedVolumes *volumes);
    QString volumeLabel() const { return label; }

protected:
    qint64 writeData(const char *data, qint64 len) override;

private:
    QString label;
    SimulatedVolumes *volumes;
};
