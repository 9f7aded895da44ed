#include "LogCapture.h"

#include <QMutexLocker>

namespace {
QMutex captureMutex;
QStringList captured;
} // namespace

LogCapture::LogCapture()
{
    clear();
    previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const char *level = "DEBUG";
    switch (type) {
    case QtInfoMsg:
        level = "INFO";
        break;
    case QtWarningMsg:
        level = "WARN";
        break;
    case QtCriticalMsg:
        level = "CRIT";
        break;
    case QtFatalMsg:
        level = "FATAL";
        break;
    case QtDebugMsg:
        break;
    }
    QMutexLocker lock(&captureMutex);
    captured.append(QLatin1String(level) + QLatin1Char(' ') + text);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

QStringList LogCapture::linesStartingWith(const QString &prefix) const
{
    QStringList result;
    for (const QString &line : lines()) {
        if (line.startsWith(prefix))
            result.append(line);
    }
    return result;
}

void LogCapture::clear()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
}
