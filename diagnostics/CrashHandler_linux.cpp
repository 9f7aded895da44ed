#include "diagnostics/CrashHandler.h"

#include "diagnostics/CrashFormat.h"
#include "diagnostics/CrashLog.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

// Everything reached from onFatalSignal is async-signal-safe: fixed buffers on the alternate
// stack, raw system calls, and the text helpers of CrashFormat; nothing allocates or takes a
// lock. The one exception is glibc's backtrace(), which is safe once libgcc has been loaded
// (installCrashHandlers makes sure of that) and finds its unwind tables without a lock. Frames
// are written as raw addresses beside the process map, as a minidump keeps them: naming them
// here would take the dynamic loader's lock.

namespace {

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
// Roomy enough for the unwinder plus our own buffers (a path, a line and a read buffer).
constexpr std::size_t altStackSize = 256 * 1024;
constexpr int maxFrames = 128;
constexpr std::size_t pathCapacity = 4096 + 128;

// The calling thread's alternate signal stack, released when the thread ends.
struct AltStack
{
    void *memory = nullptr;
    ~AltStack()
    {
        if (memory == nullptr)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, altStackSize);
    }
};
thread_local AltStack threadAltStack;

struct FaultDetails
{
    int signalNumber;
    const siginfo_t *info;
    const ucontext_t *context;
    std::uint32_t code;
    std::uintptr_t address;
};

std::atomic<bool> handlersInstalled{false};
// Set by our own fatal paths just before they abort: they have written their lines already.
std::atomic<bool> abortingAfterLog{false};

// glibc keeps the text it printed before an abort (a failed assertion, a heap check) for core
// dumps, in a private variable; looked up once at install time, absent on other C libraries.
struct AbortMessage
{
    unsigned int size;
    char text[1];
};
AbortMessage *const *abortMessage = nullptr;

const char *currentAbortMessage()
{
    if (abortMessage == nullptr || *abortMessage == nullptr)
        return nullptr;
    return (*abortMessage)->text;
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeText(int fd, const char *text)
{
    std::size_t len = 0;
    while (text[len] != '\0')
        ++len;
    return writeAll(fd, text, len);
}

const char *signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

std::uint64_t stackPointerOf(const ucontext_t *context)
{
#if defined(__x86_64__)
    return static_cast<std::uint64_t>(context->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    return context->uc_mcontext.sp;
#else
    (void)context;
    return 0;
#endif
}

std::uint64_t instructionPointerOf(const ucontext_t *context)
{
#if defined(__x86_64__)
    return static_cast<std::uint64_t>(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return context->uc_mcontext.pc;
#else
    (void)context;
    return 0;
#endif
}

bool writeRegisters(int fd, const ucontext_t *context)
{
    char line[128];
    bool ok = writeText(fd, "\nregisters:\n");
#if defined(__x86_64__)
    struct Register
    {
        const char *name;
        int index;
    };
    static const Register registers[] = {
        {"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP}, {"rax", REG_RAX},
        {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI},
        {"rdi", REG_RDI}, {"r8", REG_R8},   {"r9", REG_R9},   {"r10", REG_R10},
        {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14},
        {"r15", REG_R15}, {"efl", REG_EFL}, {"err", REG_ERR}, {"trapno", REG_TRAPNO},
        {"cr2", REG_CR2}};
    for (const Register &r : registers) {
        std::size_t len = appendText(line, sizeof line, 0, "  ");
        len = appendText(line, sizeof line, len, r.name);
        len = appendText(line, sizeof line, len, " 0x");
        len = appendHex(line, sizeof line, len,
                        static_cast<std::uint64_t>(context->uc_mcontext.gregs[r.index]));
        len = appendText(line, sizeof line, len, "\n");
        ok = writeAll(fd, line, len) && ok;
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        std::size_t len = appendText(line, sizeof line, 0, "  x");
        len = appendDecimal(line, sizeof line, len, static_cast<std::uint64_t>(i));
        len = appendText(line, sizeof line, len, " 0x");
        len = appendHex(line, sizeof line, len, context->uc_mcontext.regs[i]);
        len = appendText(line, sizeof line, len, "\n");
        ok = writeAll(fd, line, len) && ok;
    }
    std::size_t len = appendText(line, sizeof line, 0, "  sp 0x");
    len = appendHex(line, sizeof line, len, context->uc_mcontext.sp);
    len = appendText(line, sizeof line, len, "\n  pc 0x");
    len = appendHex(line, sizeof line, len, context->uc_mcontext.pc);
    len = appendText(line, sizeof line, len, "\n");
    ok = writeAll(fd, line, len) && ok;
#else
    (void)context;
    (void)line;
    ok = writeText(fd, "  not recorded on this architecture\n") && ok;
#endif
    return ok;
}

bool writeField(int fd, const char *label, std::uint64_t value, bool hex)
{
    char line[128];
    std::size_t len = appendText(line, sizeof line, 0, label);
    len = hex ? appendHex(line, sizeof line, appendText(line, sizeof line, len, "0x"), value)
              : appendDecimal(line, sizeof line, len, value);
    len = appendText(line, sizeof line, len, "\n");
    return writeAll(fd, line, len);
}

bool copyProcessMaps(int fd)
{
    const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0)
        return writeText(fd, "  unavailable\n");
    char buffer[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(maps, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ok = writeAll(fd, buffer, static_cast<std::size_t>(n)) && ok;
    }
    ::close(maps);
    return ok;
}

// Our counterpart of a minidump: a text report of the failing thread and the process layout,
// enough to symbolise the backtrace later against the same binaries. Returns false, with an
// empty path, when the file cannot be created or written.
bool writeMiniDump(const FaultDetails *fault, const char *note, char *path, std::size_t cap)
{
    char stamp[16];
    crashFileStamp(stamp);
    formatDumpPath(path, cap, crashLogDir(), stamp, crashProcessId());
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        path[0] = '\0';
        return false;
    }

    bool ok = writeText(fd, "Tovik Updater ");
    ok = writeText(fd, crashAppVersion()) && ok;
    ok = writeText(fd, " crash report\n") && ok;
    ok = writeField(fd, "pid ", crashProcessId(), false) && ok;
    ok = writeField(fd, "thread ", currentThreadId(), true) && ok;
    if (note != nullptr) {
        ok = writeText(fd, "reason ") && ok;
        ok = writeText(fd, note) && ok;
        ok = writeText(fd, "\n") && ok;
    }
    if (fault != nullptr) {
        ok = writeText(fd, "signal ") && ok;
        ok = writeText(fd, signalName(fault->signalNumber)) && ok;
        ok = writeField(fd, " ", static_cast<std::uint64_t>(fault->signalNumber), false) && ok;
        ok = writeField(fd, "si_code ", static_cast<std::uint64_t>(fault->info->si_code), false) &&
             ok;
        char line[128];
        std::size_t len = appendText(line, sizeof line, 0, "code 0x");
        len = appendHex8(line, sizeof line, len, fault->code);
        len = appendText(line, sizeof line, len, " (");
        len = appendText(line, sizeof line, len, exceptionName(fault->code));
        len = appendText(line, sizeof line, len, ")\n");
        ok = writeAll(fd, line, len) && ok;
        ok = writeField(fd, "address ", fault->address, true) && ok;
        ok = writeRegisters(fd, fault->context) && ok;
    }

    ok = writeText(fd, "\nbacktrace:\n") && ok;
    void *frames[maxFrames];
    const int count = backtrace(frames, maxFrames);
    for (int i = 0; i < count; ++i) {
        char line[64];
        std::size_t len = appendText(line, sizeof line, 0, "  #");
        len = appendDecimal(line, sizeof line, len, static_cast<std::uint64_t>(i));
        len = appendText(line, sizeof line, len, " 0x");
        len = appendHex(line, sizeof line, len, reinterpret_cast<std::uintptr_t>(frames[i]));
        len = appendText(line, sizeof line, len, "\n");
        ok = writeAll(fd, line, len) && ok;
    }

    ok = writeText(fd, "\nmaps:\n") && ok;
    ok = copyProcessMaps(fd) && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        path[0] = '\0';
    return ok;
}

void endAsTheSignalWould(int signalNumber, int savedErrno)
{
    // End the process exactly as the signal would have without us, core file included.
    struct sigaction fallback
    {
    };
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signalNumber, &fallback, nullptr);
    errno = savedErrno;
    raise(signalNumber);
    // The signal is blocked until we return; a hardware fault then also recurs on return.
}

void onFatalSignal(int signalNumber, siginfo_t *info, void *rawContext)
{
    const int savedErrno = errno;
    if (signalNumber == SIGABRT && abortingAfterLog.load()) {
        endAsTheSignalWould(signalNumber, savedErrno);
        return;
    }
    const auto *context = static_cast<const ucontext_t *>(rawContext);
    const char *note = nullptr;
    FaultDetails fault{signalNumber, info, context, 0,
                       reinterpret_cast<std::uintptr_t>(info->si_addr)};
    if (signalNumber == SIGABRT) {
        // No fault address here: like Windows, name the instruction that raised it.
        note = currentAbortMessage();
        fault.code = crashCodeForAbort(note);
        fault.address = instructionPointerOf(context);
    } else {
        const bool intDiv = signalNumber == SIGFPE && info->si_code == FPE_INTDIV;
        fault.code =
            crashCodeForSignal(signalNumber, intDiv, fault.address, stackPointerOf(context));
    }

    crashLogFaultLine(fault.code, fault.address, currentThreadId());
    char path[pathCapacity];
    const bool written = writeMiniDump(&fault, note, path, sizeof path);
    crashLogDumpOutcome(written ? path : nullptr);
    endAsTheSignalWould(signalNumber, savedErrno);
}

} // namespace

std::uint64_t currentThreadId()
{
    return static_cast<std::uint64_t>(syscall(SYS_gettid));
}

void prepareThreadForCrashHandling()
{
    if (handlersInstalled.load())
        std::set_terminate(terminateHandler);
    if (threadAltStack.memory != nullptr)
        return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)
        return; // someone already gave this thread a stack; keep it
    void *memory =
        mmap(nullptr, altStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = altStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, altStackSize);
        return;
    }
    threadAltStack.memory = memory;
}

void installCrashHandlers()
{
    handlersInstalled.store(true);
    // Load the unwinder now: its first use allocates, which a signal handler must not do.
    void *frames[4];
    backtrace(frames, 4);
    abortMessage =
        static_cast<AbortMessage *const *>(dlvsym(RTLD_DEFAULT, "__abort_msg", "GLIBC_PRIVATE"));
    prepareThreadForCrashHandling();

    struct sigaction action
    {
    };
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : fatalSignals)
        sigaction(signalNumber, &action, nullptr);
}

void terminateHandler()
{
    char reason[1024];
    crashLogTerminateLine(reason, sizeof reason);
    char path[pathCapacity];
    if (writeMiniDump(nullptr, reason, path, sizeof path))
        crashLogDumpOutcome(path);
    abortAfterLogging();
}

void abortAfterLogging()
{
    abortingAfterLog.store(true);
    std::abort();
}

std::intptr_t crashLogSink(int descriptor)
{
    return descriptor;
}

void writeCrashLogBytes(std::intptr_t sink, const char *data, std::size_t size)
{
    // The log is opened for appending, so one write lands whole at its end.
    writeAll(static_cast<int>(sink), data, size);
}

const char crashLineEnd[] = "\n";
