// The child of the crash cases, Qt-free so that it builds for Linux and, with mingw-w64, for
// Windows to run under Wine: opens a log for appending as the program's log file is opened,
// hands its descriptor to the crash handlers as initLogging does, and provokes the case named
// by argv[1], with argv[2] as the log directory.

#include "CrashCases.h"
#include "diagnostics/CrashHandler.h"
#include "diagnostics/CrashLog.h"

#include <fcntl.h>

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#define O_BINARY 0
#endif

int main(int argc, char *argv[])
{
    const CrashCase *crash = argc == 3 ? findCrashCase(argv[1]) : nullptr;
    if (crash == nullptr) {
        std::fprintf(stderr, "usage: crashchild <case> <log directory>\n");
        return 2;
    }
#ifndef _WIN32
    const rlimit noCores{0, 0};
    setrlimit(RLIMIT_CORE, &noCores);
#endif
    CrashLogSetup setup;
    setup.logDir = argv[2];
    setup.appVersion = "9.8.7";
    setup.processId = static_cast<std::uint64_t>(getpid());
    setup.logDescriptor = open((std::string(argv[2]) + "/crashchild.log").c_str(),
                               O_WRONLY | O_APPEND | O_CREAT | O_BINARY, 0644);
    prepareCrashLog(setup);
    installCrashHandlers();
    crashLogWrite("=== crashchild 9.8.7 ===");
    provokeCrashCase(*crash, 0);
}
