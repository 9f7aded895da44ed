#include "storage/UpdateCopy.h"

#include <QFileInfo>

#include <limits>

int copyPercentage(qint64 copied, qint64 total)
{
    if (total <= 0 || copied <= 0)
        return 0;
    if (copied >= total)
        return 100;
    // copied < total here; only absurd sizes would overflow copied * 100.
    if (copied <= std::numeric_limits<qint64>::max() / 100)
        return static_cast<int>(copied * 100 / total);
    return static_cast<int>(copied / (total / 100));
}

QString copyNameOnVolume(const QString &fileName, const QString &targetName)
{
    if (fileName.compare(targetName, Qt::CaseInsensitive) != 0)
        return fileName;
    // Same length, so it stays an 8.3 name.
    return QFileInfo(targetName).completeBaseName() + QStringLiteral(".new");
}
