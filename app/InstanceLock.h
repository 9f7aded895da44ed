#pragma once

#include <string>

// A lock that one run of the program holds per user, from construction until it is destroyed
// or the process ends, however it ends: a crashed run leaves nothing stale behind. Free of Qt.
class InstanceLock
{
public:
    enum class State {
        Held,          // this run is the only one
        HeldByAnother, // another run of the same user holds it
        Unavailable,   // the system gave no lock; the run goes on unguarded
    };

    // runtimeDir: the user's private runtime folder, where the system has no per-user names
    // of its own; program: the name that both lock and channel are made from.
    InstanceLock(const std::string &runtimeDir, const std::string &program);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    State state() const { return current; }
    // Why the lock is unavailable, for the log.
    const std::string &error() const { return reason; }
    // Where the holder listens for a later start: a local socket's path or a pipe's name.
    const std::string &channelName() const { return channel; }
    // Before asking the holder for its window: where the system keeps the foreground from
    // programs the user did not just start, lets the holder take it.
    static void letHolderComeForward();

private:
    State current = State::Unavailable;
    std::string reason;
    std::string channel;
    // The lock file's descriptor, or the mutex handle, while it is held.
    long long handle = -1;
};
