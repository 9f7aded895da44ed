#include "storage/SystemDismounter.h"

#include "storage/DriveDismount.h"

bool SystemDismounter::dismount(const QString &rootPath)
{
    // The device of a drive root such as "X:/" is "\\.\X:".
    const QString devicePath = QStringLiteral("\\\\.\\%1").arg(rootPath.left(2));
    return dismountDrive(devicePath.toStdWString());
}
