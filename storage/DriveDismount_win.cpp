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
    // The lock fails while another program has a file open; the dismount still goes ahead and
    // decides the result, as the desktop's own eject would.
    DeviceIoControl(device, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &bytesReturned, nullptr);
    const BOOL dismounted = DeviceIoControl(device, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0,
                                            &bytesReturned, nullptr);
    // Closing the handle also releases the lock.
    CloseHandle(device);
    return dismounted != FALSE;
}
