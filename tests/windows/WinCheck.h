#pragma once

// Shared by the Windows test programs: checks that print what failed, and stand-ins for the
// system functions that the program's own code imports.

#include <windows.h>

#include <cstdio>

inline int failures = 0;

inline void check(bool condition, const char *row, const char *what)
{
    if (!condition) {
        std::printf("FAIL %s: %s\n", row, what);
        ++failures;
    }
}
#define WIN_CHECK(condition, row) check((condition), (row), #condition)

// Points the program's import of a system function (its __imp_ slot) at a stand-in; returns
// the real function, which the stand-in calls for everything it does not answer itself.
template<typename Function> Function replaceImport(Function &slot, Function standIn)
{
    DWORD protection = 0;
    VirtualProtect(&slot, sizeof slot, PAGE_READWRITE, &protection);
    const Function real = slot;
    slot = standIn;
    VirtualProtect(&slot, sizeof slot, protection, &protection);
    return real;
}

inline int summary(int rows)
{
    std::printf("%d rows checked, %d checks failed\n", rows, failures);
    return failures == 0 ? 0 : 1;
}
