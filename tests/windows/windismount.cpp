// The program's volume dismount (storage/DriveDismount_win.cpp) under Wine. Wine's calls do the
// work; stand-ins in the program's imports watch them and give Windows' answer where Wine has
// none: Wine grants every FSCTL_LOCK_VOLUME, so a refusal is injected, and so is a dismount that
// succeeds.

#include "WinCheck.h"
#include "storage/DriveDismount.h"

#include <windows.h>
#include <winioctl.h>

#include <string>

extern "C" decltype(&CreateFileW) __imp_CreateFileW;
extern "C" decltype(&CloseHandle) __imp_CloseHandle;
extern "C" decltype(&DeviceIoControl) __imp_DeviceIoControl;

namespace {

enum Inject : unsigned { Nothing = 0, RefuseLock = 1, GrantDismount = 2 };

unsigned inject = Nothing;
HANDLE opened = INVALID_HANDLE_VALUE;
int closes = 0;    // of the handle opened
std::string calls; // the control codes, in order
decltype(&CreateFileW) realCreateFile = nullptr;
decltype(&CloseHandle) realCloseHandle = nullptr;
decltype(&DeviceIoControl) realDeviceIoControl = nullptr;

HANDLE WINAPI createFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE model)
{
    opened = realCreateFile(path, access, share, security, disposition, flags, model);
    return opened;
}

BOOL WINAPI closeHandle(HANDLE handle)
{
    closes += handle == opened ? 1 : 0;
    return realCloseHandle(handle);
}

BOOL WINAPI deviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped)
{
    const bool lock = code == FSCTL_LOCK_VOLUME;
    calls += lock ? "lock " : code == FSCTL_DISMOUNT_VOLUME ? "dismount " : "other ";
    if (lock && (inject & RefuseLock) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!lock && (inject & GrantDismount) != 0)
        return TRUE;
    return realDeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

struct Row
{
    const char *name;
    std::wstring path;
    unsigned inject;
    bool dismounted;
    const char *calls;
};

} // namespace

int main()
{
    const Row rows[] = {
        {"no such device", L"\\\\.\\TovikNoSuchVolume", Nothing, false, ""},
        // A folder on the host, not a lockable volume: Wine grants the lock, refuses the dismount.
        {"Wine's drive C:", L"\\\\.\\C:", Nothing, false, "lock dismount "},
        // Never forced, though the dismount would go through: a program may be writing there.
        {"lock refused, a file open on the volume", L"\\\\.\\C:", RefuseLock | GrantDismount, false,
         "lock "},
        {"lock and dismount granted", L"\\\\.\\C:", GrantDismount, true, "lock dismount "},
    };
    realCreateFile = replaceImport(__imp_CreateFileW, createFile);
    realCloseHandle = replaceImport(__imp_CloseHandle, closeHandle);
    realDeviceIoControl = replaceImport(__imp_DeviceIoControl, deviceIoControl);
    for (const Row &row : rows) {
        inject = row.inject;
        calls.clear();
        opened = INVALID_HANDLE_VALUE;
        closes = 0;
        WIN_CHECK(dismountDrive(row.path) == row.dismounted, row.name);
        WIN_CHECK(calls == row.calls, row.name);
        // Opened only when it exists, and then closed once on every way out.
        WIN_CHECK((opened != INVALID_HANDLE_VALUE) == (row.calls[0] != '\0'), row.name);
        WIN_CHECK(closes == (opened != INVALID_HANDLE_VALUE ? 1 : 0), row.name);
    }
    return summary(sizeof rows / sizeof rows[0]);
}
