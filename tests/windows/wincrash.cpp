// The Windows child of tst_crash_wine: opens a log as the program's log file is opened, hands it
// to the crash handlers as initLogging does, and provokes the case named by argv[1], with
// argv[2] as the log directory.

#include "CrashCases.h"
#include "diagnostics/CrashHandler.h"
#include "diagnostics/CrashLog.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

int main(int argc, char *argv[])
{
    const CrashCase *crash = argc == 3 ? findCrashCase(argv[1]) : nullptr;
    if (crash == nullptr) {
        std::fprintf(stderr, "usage: wincrash <case> <log directory>\n");
        return 2;
    }
    // QFile opens the log for appending and hands out the C runtime's descriptor of its handle.
    const std::string log = std::string(argv[2]) + "/wincrash.log";
    CrashLogSetup setup;
    setup.logDir = argv[2];
    setup.appVersion = "9.8.7";
    setup.processId = GetCurrentProcessId();
    setup.logDescriptor =
        _open(log.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    prepareCrashLog(setup);
    installCrashHandlers();
    crashLogWrite("=== wincrash 9.8.7 ===");
    provokeCrashCase(*crash, 0);
}
