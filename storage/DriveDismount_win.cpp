#include "storage/DriveDismount.h"

#include <windows.h>
#include <winioctl.h>

bool dismountDrive(const std::wstring &devicePath)
{
    HANDLE device =
        CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return false;

    DWORD bytesReturned = 0;
    // The lock is refused while another program has a file open on the volume. Dismounting then
    // would pull the file system from under that program and could lose what it is writing, so
    // without the lock there is no dismount.
    const bool dismounted = DeviceIoControl(device, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0,
                                            &bytesReturned, nullptr) != FALSE &&
                            DeviceIoControl(device, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0,
                                            &bytesReturned, nullptr) != FALSE;
    // Closing the handle also releases the lock.
    CloseHandle(device);
    return dismounted;
}
