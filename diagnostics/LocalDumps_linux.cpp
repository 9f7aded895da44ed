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
    // Here the system's own dump is the core file, written where the kernel's core pattern says;
    // the soft size limit is raised to the hard one.
    rlimit limit{};
    bool raised = false;
    if (getrlimit(RLIMIT_CORE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        raised = setrlimit(RLIMIT_CORE, &limit) == 0;
    }
    const bool known = getrlimit(RLIMIT_CORE, &limit) == 0;
    const bool unlimited = known && limit.rlim_cur == RLIM_INFINITY;
    const quint64 bytes = known ? quint64(limit.rlim_cur) : 0;
    QFile patternFile(QStringLiteral("/proc/sys/kernel/core_pattern"));
    QByteArray pattern =
        patternFile.open(QIODevice::ReadOnly) ? patternFile.readAll() : QByteArray();
    while (pattern.endsWith('\n'))
        pattern.chop(1);

    const bool enabled = raised && (unlimited || bytes > 0);
    writeLogLine(formatCoreDumpsLine(
        logTimestamp(), executable,
        coreDumpLocation(QString::fromLocal8Bit(pattern), QDir::currentPath()),
        unlimited ? QStringLiteral("unlimited") : QString::number(bytes), enabled));
    return enabled;
}
