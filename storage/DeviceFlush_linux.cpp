#include "storage/DeviceFlush.h"

#include <fcntl.h>
#include <unistd.h>

int openFileForFlushing(const std::string &path)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

void closeFileDescriptor(int descriptor)
{
    ::close(descriptor);
}

bool flushFileToDevice(int descriptor)
{
    return descriptor >= 0 && ::fsync(descriptor) == 0;
}

bool flushDirectoryToDevice(const std::string &path)
{
    const int directory = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return false;
    const bool flushed = ::fsync(directory) == 0;
    return ::close(directory) == 0 && flushed;
}
