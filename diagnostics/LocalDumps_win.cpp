#include "diagnostics/CrashHandler.h"

#include "diagnostics/LogFormat.h"
#include "diagnostics/LogState.h"
#include "diagnostics/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

bool setupWerLocalDumps()
{
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (executable.isEmpty())
        return false;
    const QString logDir = logState().logDir;
    QSettings settings(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\") +
                           QStringLiteral("Windows Error Reporting\\LocalDumps\\") + executable,
                       QSettings::NativeFormat);
    settings.setValue(QStringLiteral("DumpFolder"), QDir::toNativeSeparators(logDir));
    settings.setValue(QStringLiteral("DumpCount"), 5);
    settings.setValue(QStringLiteral("DumpType"), 2);
    settings.sync();
    const bool enabled = settings.status() == QSettings::NoError;
    writeLogLine(formatLocalDumpsLine(logTimestamp(), executable, logDir, enabled));
    return enabled;
}
