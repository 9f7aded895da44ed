#include "storage/UDisks2MountPoints.h"

#include <QDir>
#include <QFile>

QStringList decodeMountPoints(const QList<QByteArray> &mountPoints)
{
    QStringList result;
    for (const QByteArray &raw : mountPoints) {
        const qsizetype end = raw.indexOf('\0');
        const QByteArray path = end < 0 ? raw : raw.left(end);
        if (!path.isEmpty())
            result.append(QFile::decodeName(path));
    }
    return result;
}

bool sameMountPoint(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    return QDir::cleanPath(a) == QDir::cleanPath(b);
}
