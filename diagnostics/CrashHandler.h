#pragma once

// The crash and terminate safety nets. Qt-free, so the Windows implementation can include it.

#include <cstdint>

// Installs the terminate handler, then the handler for fatal faults (the unhandled-exception
// filter on Windows, the SIGSEGV/SIGBUS/SIGILL/SIGFPE handlers elsewhere). Called by
// initLogging once the log file is open.
void installCrashHandlers();

// Keeps stack in reserve for the crash handler on the calling thread, so that a stack overflow
// on it is still reported: an alternate signal stack on Linux, a stack guarantee on Windows.
// installCrashHandlers() does this for the thread that calls it; every other long-lived thread
// (the worker) calls it when it starts.
void prepareThreadForCrashHandling();

// Asks the operating system to keep its own dumps of this executable in the log directory
// (Windows: the error-reporting LocalDumps key; elsewhere: the core-file size limit raised to
// the hard limit). Logs the outcome; returns true on success.
bool setupWerLocalDumps();

// The std::terminate handler: logs the reason, writes a dump and aborts.
[[noreturn]] void terminateHandler();

// The kernel's id of the calling thread (GetCurrentThreadId on Windows, gettid on Linux).
std::uint64_t currentThreadId();

#ifndef _WIN32
// Raises the soft core-file size limit to the hard limit; true on success.
bool raiseCoreDumpLimit();
#endif
