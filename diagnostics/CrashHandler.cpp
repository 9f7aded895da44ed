#include "diagnostics/CrashHandler.h"

#include "diagnostics/LogFormat.h"
#include "diagnostics/LogState.h"
#include "diagnostics/Logging.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <QDir>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

bool setupWerLocalDumps()
{
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (executable.isEmpty())
        return false;
    const QString logDir = logState().logDir;

#ifdef Q_OS_WIN
    QSettings settings(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\") +
                           QStringLiteral("Windows Error Reporting\\LocalDumps\\") + executable,
                       QSettings::NativeFormat);
    settings.setValue(QStringLiteral("DumpFolder"), QDir::toNativeSeparators(logDir));
    settings.setValue(QStringLiteral("DumpCount"), 5);
    settings.setValue(QStringLiteral("DumpType"), 2);
    settings.sync();
    const bool enabled = settings.status() == QSettings::NoError;
    writeLogLine(formatLocalDumpsLine(logTimestamp(), executable, logDir, enabled));
#else
    // Here the system's own dump is the core file, written where the kernel's core pattern says.
    const CoreDumpSettings cores = raiseCoreDumpLimit();
    const bool enabled = cores.raised && (cores.unlimited || cores.limit > 0);
    writeLogLine(formatCoreDumpsLine(
        logTimestamp(), executable,
        coreDumpLocation(QString::fromLocal8Bit(cores.pattern), QDir::currentPath()),
        cores.unlimited ? QStringLiteral("unlimited") : QString::number(cores.limit), enabled));
#endif
    return enabled;
}
