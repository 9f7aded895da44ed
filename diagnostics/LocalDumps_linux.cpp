#include "diagnostics/CrashHandler.h"

#include "diagnostics/LogFormat.h"
#include "diagnostics/LogState.h"
#include "diagnostics/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

bool setupWerLocalDumps()
{
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (executable.isEmpty())
        return false;
    QFile patternFile(QStringLiteral("/proc/sys/kernel/core_pattern"));
    QByteArray pattern =
        patternFile.open(QIODevice::ReadOnly) ? patternFile.readAll() : QByteArray();
    while (pattern.endsWith('\n'))
        pattern.chop(1);
    // Here the system's own dump is the core file, written where the kernel's core pattern says.
    // Only a collector ("|program") keeps cores in bounds; any other pattern would leave a file
    // of the whole memory in the working directory at every crash, so the limit stays as found.
    const bool collector = pattern.startsWith('|');
    rlimit limit{};
    bool raised = false;
    if (collector && getrlimit(RLIMIT_CORE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        raised = setrlimit(RLIMIT_CORE, &limit) == 0;
    }
    const bool known = getrlimit(RLIMIT_CORE, &limit) == 0;
    const bool unlimited = known && limit.rlim_cur == RLIM_INFINITY;
    const quint64 bytes = known ? quint64(limit.rlim_cur) : 0;

    const bool enabled = (raised || !collector) && (unlimited || bytes > 0);
    writeLogLine(formatCoreDumpsLine(
        logTimestamp(), executable,
        coreDumpLocation(QString::fromLocal8Bit(pattern), QDir::currentPath()),
        unlimited ? QStringLiteral("unlimited") : QString::number(bytes),
        collector ? (enabled ? QStringLiteral("enabled") : QStringLiteral("FAILED"))
                  : QStringLiteral("left as found: no collector takes them")));
    return enabled;
}
