#include "sim/volumes/SimulatedVolumeFile.h"

#include "sim/volumes/SimulatedVolumes.h"

SimulatedVolumeFile::SimulatedVolumeFile(const QString &path, const QString &volumeLabel,
                                         SimulatedVolumes *owner)
    : QFile(path)
    , label(volumeLabel)
    , volumes(owner)
{
}

qint64 SimulatedVolumeFile::writeData(const char *data, qint64 len)
{
    const qint64 admitted = volumes->admitWrite(label, len);
    if (admitted < 0) {
        setErrorString(QStringLiteral("Input/output error"));
        return -1;
    }
    return QFile::writeData(data, admitted);
}
