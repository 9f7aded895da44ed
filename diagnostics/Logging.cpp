#include "diagnostics/Logging.h"

#include <QDateTime>

void initLogging(const QString &) {}
void writeLogLine(const QString &) {}
QString logTimestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}
void logMessageHandler(QtMsgType, const QMessageLogContext &, const QString &) {}
void logTrace(const QString &) {}
