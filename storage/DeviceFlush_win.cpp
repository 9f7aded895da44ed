#include "storage/DeviceFlush.h"

#include "widepath/WidePath.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

int openFileForFlushing(const std::string &path)
{
    HANDLE file = CreateFileW(widePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (descriptor < 0)
        CloseHandle(file);
    return descriptor;
}

void closeFileDescriptor(int descriptor)
{
    _close(descriptor);
}

bool flushFileToDevice(int descriptor)
{
    const intptr_t handle = _get_osfhandle(descriptor);
    if (handle == -1)
        return false;
    return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

bool flushDirectoryToDevice(const std::string &)
{
    // FAT and NTFS write a rename's directory entry with the volume's own metadata; the
    // dismount that follows flushes it.
    return true;
}
