#pragma once

// The crash and terminate safety nets. Qt-free, so the Windows implementation can include it.

#include <cstdint>

// Installs the terminate handler, then the handler for fatal faults (the unhandled-exception
// filter on Windows, the SIGSEGV/SIGBUS/SIGILL/SIGFPE/SIGABRT handlers elsewhere). Called by
// initLogging once the log file is open and prepareCrashLog has run.
void installCrashHandlers();

// Readies the calling thread for the handlers: stack kept in reserve so that a stack overflow on
// it is still reported (an alternate signal stack on Linux, a stack guarantee on Windows), and,
// once the handlers are installed, the terminate handler (the MSVC runtime keeps one per
// thread). installCrashHandlers() does this for the thread that calls it; every other thread we
// own (the worker, the simulated instrument's input threads) calls it when it starts.
void prepareThreadForCrashHandling();

// Asks the operating system to keep its own dumps of this executable (Windows: the error-
// reporting LocalDumps key for the log directory; elsewhere: the core-file size limit raised to
// the hard limit where the kernel's core pattern hands cores to a collector, else left as found).
// Logs what it did; returns true when dumps are kept. In LocalDumps_*.cpp: unlike the handlers, it
// runs at start-up and uses Qt.
bool setupWerLocalDumps();

// The std::terminate handler: logs the reason, writes a dump and aborts.
[[noreturn]] void terminateHandler();

// Ends the process with abort() once our own fatal paths (terminate, qFatal) have logged, so the
// handler for aborts that come from elsewhere stays out of the way.
[[noreturn]] void abortAfterLogging();

// The kernel's id of the calling thread (GetCurrentThreadId on Windows, gettid on Linux).
std::uint64_t currentThreadId();
