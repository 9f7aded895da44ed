#include "app/InstanceLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// An advisory lock on a file in the runtime folder: the kernel drops it with the last
// descriptor, so a killed run frees it; the file itself may stay.
InstanceLock::InstanceLock(const std::string &runtimeDir, const std::string &program)
    : channel(runtimeDir + '/' + program + ".socket")
{
    if (runtimeDir.empty()) {
        reason = "no runtime folder";
        return;
    }
    const std::string path = runtimeDir + '/' + program + ".lock";
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        reason = path + ": " + std::strerror(errno);
        return;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
        current = State::Held;
        handle = descriptor;
        return;
    }
    const int error = errno;
    ::close(descriptor);
    if (error == EWOULDBLOCK) {
        current = State::HeldByAnother;
        return;
    }
    reason = path + ": " + std::strerror(error);
}

InstanceLock::~InstanceLock()
{
    if (handle >= 0)
        ::close(static_cast<int>(handle));
}

void InstanceLock::letHolderComeForward()
{
    // The desktop decides alone; nothing to hand over.
}
