#include "diagnostics/CrashHandler.h"

#include "diagnostics/CrashFormat.h"
#include "diagnostics/CrashLog.h"

#include <windows.h>

#include <dbghelp.h>

#include <cstdlib>
#include <exception>
#include <string>

namespace {

using MiniDumpWriteDumpFn = BOOL(WINAPI *)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                           PMINIDUMP_EXCEPTION_INFORMATION,
                                           PMINIDUMP_USER_STREAM_INFORMATION,
                                           PMINIDUMP_CALLBACK_INFORMATION);

// MiniDumpWithDataSegs | MiniDumpWithHandleData | MiniDumpWithIndirectlyReferencedMemory.
constexpr MINIDUMP_TYPE dumpContents = static_cast<MINIDUMP_TYPE>(
    MiniDumpWithDataSegs | MiniDumpWithHandleData | MiniDumpWithIndirectlyReferencedMemory);
static_assert(dumpContents == 0x45, "dump contents flags");

// Stack kept back for the exception filter after a stack overflow has used up the rest.
constexpr ULONG overflowReserve = 64 * 1024;
constexpr std::size_t pathCapacity = 4096 + 128;

} // namespace

// Loads the dump writer only now, so a run that never crashes never maps dbghelp.dll.
std::string writeMiniDump(EXCEPTION_POINTERS *pointers)
{
    HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    if (dbghelp == nullptr)
        return {};
    const auto writer = reinterpret_cast<MiniDumpWriteDumpFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (writer == nullptr)
        return {};

    char stamp[16];
    crashFileStamp(stamp);
    char path[pathCapacity];
    formatDumpPath(path, sizeof path, crashLogDir(), stamp, GetCurrentProcessId());
    wchar_t widePath[pathCapacity];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath, static_cast<int>(pathCapacity)) == 0)
        return {};

    HANDLE file = CreateFileW(widePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};

    MINIDUMP_EXCEPTION_INFORMATION exceptionInfo{};
    exceptionInfo.ThreadId = GetCurrentThreadId();
    exceptionInfo.ExceptionPointers = pointers;
    exceptionInfo.ClientPointers = FALSE;
    const BOOL written = writer(GetCurrentProcess(), GetCurrentProcessId(), file, dumpContents,
                                pointers != nullptr ? &exceptionInfo : nullptr, nullptr, nullptr);
    CloseHandle(file);
    return written ? std::string(path) : std::string();
}

LONG WINAPI crashFilter(EXCEPTION_POINTERS *pointers)
{
    DWORD code = 0;
    std::uint64_t address = 0;
    if (pointers != nullptr && pointers->ExceptionRecord != nullptr) {
        code = pointers->ExceptionRecord->ExceptionCode;
        address = reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
    }

    crashLogFaultLine(code, address, GetCurrentThreadId());
    const std::string path = writeMiniDump(pointers);
    crashLogDumpOutcome(path.empty() ? nullptr : path.c_str());
    return EXCEPTION_EXECUTE_HANDLER;
}

std::uint64_t currentThreadId()
{
    return GetCurrentThreadId();
}

void prepareThreadForCrashHandling()
{
    ULONG reserve = overflowReserve;
    SetThreadStackGuarantee(&reserve);
}

void installCrashHandlers()
{
    std::set_terminate(terminateHandler);
    SetUnhandledExceptionFilter(crashFilter);
    prepareThreadForCrashHandling();
}

void terminateHandler()
{
    char reason[1024];
    crashLogTerminateLine(reason, sizeof reason);
    const std::string path = writeMiniDump(nullptr);
    if (!path.empty())
        crashLogDumpOutcome(path.c_str());
    std::abort();
}
