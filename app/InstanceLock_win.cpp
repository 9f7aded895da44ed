#include "app/InstanceLock.h"

#include <windows.h>

// A named mutex in the session's own namespace (one session per signed-in user): the system
// releases it when the process ends, however it ends.
InstanceLock::InstanceLock(const std::string &, const std::string &program)
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    // Pipes are named machine-wide, so the channel carries the session.
    channel = program + "-session-" + std::to_string(session);

    const std::string name = "Local\\" + program + "-instance";
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (!mutex) {
        reason = "CreateMutex failed with error " + std::to_string(GetLastError());
        return;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        current = State::HeldByAnother;
        return;
    }
    current = State::Held;
    handle = reinterpret_cast<long long>(mutex);
}

InstanceLock::~InstanceLock()
{
    if (handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
}

void InstanceLock::letHolderComeForward()
{
    AllowSetForegroundWindow(ASFW_ANY);
}
