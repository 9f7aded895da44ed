#include "diagnostics/CrashHandler.h"

#include "diagnostics/CrashFormat.h"
#include "diagnostics/CrashLog.h"

#include <windows.h>

#include <dbghelp.h>
#include <io.h>

#include <atomic>
#include <cstdlib>
#include <exception>

// Nothing reached from crashFilter or terminateHandler allocates or takes a lock of ours: fixed
// buffers, the texts and paths prepared at install time, raw writes to the log's handle. The
// dump writer is looked up only when a dump is due, so a run that never crashes never maps
// dbghelp.dll; the loader and the writer do their own locking.

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

std::atomic<bool> handlersInstalled{false};
wchar_t dumpDir[pathCapacity]; // the log directory, widened at install time
std::size_t dumpDirLength = 0;

// Where a thread's stack is committed in full (under Wine, or a thread created with a commit
// size), the system's guard page sits at its very end and a stack guarantee cannot take effect.
// A guard page of our own just above the reserve makes the overflow arrive with the reserve
// still free. A stack that grows on demand has nothing committed there and is left alone.
void guardStackReserve()
{
    ULONG_PTR low = 0;
    ULONG_PTR high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const ULONG_PTR page = system.dwPageSize;
    auto *guard = reinterpret_cast<char *>(low + 2 * page + overflowReserve);
    MEMORY_BASIC_INFORMATION region{};
    const auto *here = reinterpret_cast<const char *>(&region);
    if (here - guard < static_cast<std::ptrdiff_t>(4 * page) ||
        VirtualQuery(guard, &region, sizeof region) == 0 || region.State != MEM_COMMIT ||
        (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
        return;
    DWORD previous = 0;
    VirtualProtect(guard, page, PAGE_READWRITE | PAGE_GUARD, &previous);
}

// Writes a minidump into the log directory; false, with an empty path, when none was written.
bool writeMiniDump(EXCEPTION_POINTERS *pointers, char *path, std::size_t cap)
{
    path[0] = '\0';
    if (dumpDirLength == 0)
        return false; // the log directory did not widen at install time
    HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    if (dbghelp == nullptr)
        return false;
    const auto writer = reinterpret_cast<MiniDumpWriteDumpFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (writer == nullptr)
        return false;

    char stamp[16];
    crashFileStamp(stamp);
    formatDumpPath(path, cap, crashLogDir(), stamp, GetCurrentProcessId());
    // The same name below the directory widened at install time; the name is plain ASCII.
    char name[64];
    const std::size_t nameLength =
        formatDumpPath(name, sizeof name, "", stamp, GetCurrentProcessId());
    wchar_t widePath[pathCapacity + 64];
    std::size_t wide = 0;
    for (; wide < dumpDirLength; ++wide)
        widePath[wide] = dumpDir[wide];
    for (std::size_t i = 0; i < nameLength; ++i)
        widePath[wide++] = static_cast<wchar_t>(name[i]);
    widePath[wide] = L'\0';

    HANDLE file = CreateFileW(widePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        path[0] = '\0';
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION exceptionInfo{};
    exceptionInfo.ThreadId = GetCurrentThreadId();
    exceptionInfo.ExceptionPointers = pointers;
    exceptionInfo.ClientPointers = FALSE;
    const BOOL written = writer(GetCurrentProcess(), GetCurrentProcessId(), file, dumpContents,
                                pointers != nullptr ? &exceptionInfo : nullptr, nullptr, nullptr);
    CloseHandle(file);
    if (!written)
        path[0] = '\0';
    return written != FALSE;
}

LONG WINAPI crashFilter(EXCEPTION_POINTERS *pointers)
{
    DWORD code = 0;
    std::uintptr_t address = 0;
    if (pointers != nullptr && pointers->ExceptionRecord != nullptr) {
        code = pointers->ExceptionRecord->ExceptionCode;
        address = reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
    }
    crashLogFaultLine(code, address, GetCurrentThreadId());
    char path[pathCapacity];
    crashLogDumpOutcome(writeMiniDump(pointers, path, sizeof path) ? path : nullptr);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

std::uint64_t currentThreadId()
{
    return GetCurrentThreadId();
}

void prepareThreadForCrashHandling()
{
    if (handlersInstalled.load())
        std::set_terminate(terminateHandler);
    ULONG reserve = overflowReserve;
    SetThreadStackGuarantee(&reserve);
    guardStackReserve();
}

void installCrashHandlers()
{
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, crashLogDir(), -1, dumpDir, static_cast<int>(pathCapacity));
    dumpDirLength = length > 0 ? static_cast<std::size_t>(length - 1) : 0;
    handlersInstalled.store(true);
    prepareThreadForCrashHandling();
    SetUnhandledExceptionFilter(crashFilter);
}

void terminateHandler()
{
    char reason[1024];
    crashLogTerminateLine(reason, sizeof reason);
    char path[pathCapacity];
    if (writeMiniDump(nullptr, path, sizeof path))
        crashLogDumpOutcome(path);
    abortAfterLogging();
}

void abortAfterLogging()
{
    std::abort();
}

std::intptr_t crashLogSink(int descriptor)
{
    return _get_osfhandle(descriptor);
}

void writeCrashLogBytes(std::intptr_t sink, const char *data, std::size_t size)
{
    auto *handle = reinterpret_cast<HANDLE>(sink);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) || written == 0)
            return;
        data += written;
        size -= written;
    }
}

// The log file is in text mode: its lines end in CR LF.
const char crashLineEnd[] = "\r\n";
