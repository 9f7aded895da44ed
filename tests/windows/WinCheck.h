#pragma once

// For the Windows test programs: checks that say what failed, and stand-ins for the system
// functions that the program's own code imports.

#include <windows.h>

#include <cstdio>

inline int failures = 0;

#define WIN_CHECK(condition, row)                                                                  \
    ((condition) ? void() : (void)(std::printf("FAIL %s: %s\n", (row), #condition), ++failures))

// Points the program's import of a system function (its __imp_ slot) at a stand-in; returns
// the real function, which the stand-in calls for whatever it does not answer itself.
template<typename Function> Function replaceImport(Function &slot, Function standIn)
{
    DWORD protection = 0;
    VirtualProtect(&slot, sizeof slot, PAGE_READWRITE, &protection);
    const Function real = slot;
    slot = standIn;
    return real;
}

inline int summary(int rows)
{
    std::printf("%d rows checked, %d checks failed\n", rows, failures);
    return failures == 0 ? 0 : 1;
}
