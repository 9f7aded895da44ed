#include "storage/SystemDismounter.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include "storage/DriveDismount.h"
#elif defined(Q_OS_LINUX)
#include "storage/LinuxUnmount.h"
#endif

SystemDismounter::SystemDismounter(const QString &address)
    : busAddress(address)
{
}

bool SystemDismounter::dismount(const QString &rootPath)
{
#if defined(Q_OS_WIN)
    // The device of a drive root such as "X:/" is "\\.\X:".
    return dismountDrive(QStringLiteral("\\\\.\\%1").arg(rootPath.left(2)).toStdWString());
#elif defined(Q_OS_LINUX)
    return unmountLinuxVolume(rootPath, busAddress);
#else
    Q_UNUSED(rootPath);
    return false;
#endif
}
