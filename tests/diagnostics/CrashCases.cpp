#undef NDEBUG // the assertion case needs assert()
#include "CrashCases.h"

#include "diagnostics/CrashFormat.h"
#include "diagnostics/CrashHandler.h"
#include "diagnostics/CrashLog.h"

#include <cassert>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#define SYSTEM_THREAD_ID() GetCurrentThreadId() // the system's own, apart from the program's
#else
#include <sys/syscall.h>
#include <unistd.h>
#define SYSTEM_THREAD_ID() syscall(SYS_gettid)
#endif

const CrashCase crashCases[] = {
    {"segv", Fault::NullWrite, false, Dump::Written, "c0000005 (ACCESS_VIOLATION)", OnBoth},
    {"segv-worker", Fault::NullWrite, true, Dump::Written, "c0000005 (ACCESS_VIOLATION)", OnBoth},
    {"overflow", Fault::Recurse, false, Dump::Written, "c00000fd (STACK_OVERFLOW)", OnBoth},
    {"overflow-worker", Fault::Recurse, true, Dump::Written, "c00000fd (STACK_OVERFLOW)", OnBoth},
    {"divzero", Fault::Divide, false, Dump::Written, "c0000094 (INT_DIVIDE_BY_ZERO)", OnBoth},
    {"illegal", Fault::Illegal, false, Dump::Written, "c000001d (ILLEGAL_INSTRUCTION)", OnBoth},
    {"breakpoint", Fault::Breakpoint, false, Dump::Written, "80000003 (unknown)", OnWindows},
    {"segv-nodump", Fault::NullWrite, false, Dump::Blocked, "c0000005 (ACCESS_VIOLATION)", OnBoth},
    {"segv-nodbghelp", Fault::NullWrite, false, Dump::NoWriter, "c0000005 (ACCESS_VIOLATION)",
     OnWindows},
    // Aborts from outside our own paths get the codes Windows gives the same events.
    {"abort-assert", Fault::Assert, false, Dump::Written, "c0000409 (unknown)", OnLinux},
    {"abort-heap", Fault::DoubleFree, false, Dump::Written, "c0000374 (HEAP_CORRUPTION)", OnLinux},
    {"terminate", Fault::Terminate, false, Dump::Written, "no active exception", OnBoth},
    {"throw-std", Fault::ThrowStd, false, Dump::Written, "std::exception: boom", OnBoth},
    {"throw-std-worker", Fault::ThrowStd, true, Dump::Written, "std::exception: boom", OnBoth},
    {"throw-other", Fault::ThrowInt, false, Dump::Written, "non-std exception", OnBoth},
    {"terminate-nodump", Fault::Terminate, false, Dump::Blocked, "no active exception", OnBoth},
};
const std::size_t crashCaseCount = sizeof crashCases / sizeof crashCases[0];

std::uint32_t CrashCase::code() const
{
    return terminates() ? 0 : static_cast<std::uint32_t>(std::strtoul(expected, nullptr, 16));
}

const CrashCase *findCrashCase(const char *name)
{
    for (const CrashCase &c : crashCases) {
        if (std::strcmp(c.name, name) == 0)
            return &c;
    }
    return nullptr;
}

namespace {

volatile int zero = 0; // never changed: keeps the compiler from proving anything

// All faults in one function that is never inlined nor split, so that the crash line's address
// and the dump's frames can be found in it.
#pragma GCC optimize("no-reorder-blocks-and-partition")
__attribute__((noinline)) void fault(Fault kind)
{
    volatile char frame[512];
    frame[0] = 1;
    switch (kind) {
    case Fault::NullWrite: // 0x2a0 rather than 0: the address that faulted must be logged
        *reinterpret_cast<volatile int *>(0x2a0 + zero) = 1;
        break;
    case Fault::Recurse:
        if (zero == 0)
            fault(kind);
        break;
    case Fault::Divide:
        frame[1] = static_cast<char>(7 / zero);
        break;
    case Fault::Illegal:
        __builtin_trap();
    case Fault::Breakpoint:
        asm volatile("int3");
        break;
    case Fault::Assert:
        assert(zero == 1);
        break;
    case Fault::DoubleFree: {
        void *volatile block = std::malloc(32);
        std::free(block);
        std::free(block);
        break;
    }
    case Fault::Terminate:
        std::terminate();
    case Fault::ThrowStd:
        throw std::runtime_error("boom");
    case Fault::ThrowInt:
        throw 7; // not derived from std::exception
    }
    asm volatile("" : : "r"(frame) : "memory"); // the frame stays: no call here is a tail call
}

// Puts directories where this second's and the next seconds' dump files would go.
void blockDumpNames(int utcOffset)
{
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    for (int s = 0; s < 30; ++s) {
        char stamp[16];
        formatFileStamp(civilTimeFromEpoch(now + s * 1000, utcOffset), stamp);
        char path[4400];
        formatDumpPath(path, sizeof path, crashLogDir(), stamp, crashProcessId());
        std::filesystem::create_directories(path);
    }
}

} // namespace

void provokeCrashCase(const CrashCase &c, int utcOffset)
{
    if (c.dump == Dump::Blocked)
        blockDumpNames(utcOffset);
    const auto run = [&c] {
        std::printf("thread %llx\nfunction %llx\n",
                    static_cast<unsigned long long>(SYSTEM_THREAD_ID()),
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&fault)));
        std::fflush(stdout);
        fault(c.fault);
    };
    if (c.onWorker)
        std::thread([&run] {
            prepareThreadForCrashHandling();
            run();
        }).join();
    run(); // not reached after a worker's fault, which has ended the process
    std::abort();
}
