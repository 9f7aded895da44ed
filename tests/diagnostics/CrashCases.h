#pragma once

// The crash and terminate cases of the tests, Linux and Windows alike: what each provokes and
// what the log must say. Qt-free, so that crashchild builds for both.

#include <cstddef>
#include <cstdint>

enum class Fault {
    NullWrite,
    Recurse,
    Divide,
    Illegal,
    Breakpoint,
    Assert,
    DoubleFree,
    Terminate,
    ThrowStd,
    ThrowInt
};
// Blocked: directories stand where the dump files would go. NoWriter: dbghelp.dll is disabled.
enum class Dump { Written, Blocked, NoWriter };
enum Platforms : unsigned { OnLinux = 1, OnWindows = 2, OnBoth = 3 };

struct CrashCase
{
    const char *name;
    Fault fault;
    bool onWorker;
    Dump dump;
    const char *expected; // the crash line's "<code> (<name>)", or the terminate line's reason
    unsigned platforms;

    bool terminates() const { return fault >= Fault::Terminate; }
    std::uint32_t code() const; // the exception code in `expected`
};

extern const CrashCase crashCases[];
extern const std::size_t crashCaseCount;
const CrashCase *findCrashCase(const char *name);

// Provokes the case's fault, on a fresh thread prepared as the program prepares its own when the
// case asks for one; first blocks the dump's names (local time at utcOffset) when it asks for
// that. Just before, prints "thread <hex>" and "function <hex>": the faulting thread and the
// function that faults.
[[noreturn]] void provokeCrashCase(const CrashCase &c, int utcOffset);
