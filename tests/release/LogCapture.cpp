#include "LogCapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex captureMutex;
QStringList captured;

void capture(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const char *level = type == QtInfoMsg      ? "INFO "
                        : type == QtWarningMsg ? "WARN "
                        : type == QtDebugMsg   ? "DEBUG "
                                               : "CRIT ";
    QMutexLocker lock(&captureMutex);
    captured.append(QLatin1String(level) + text);
}
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
    previous = qInstallMessageHandler(&capture);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

QStringList LogCapture::linesStartingWith(const QString &prefix) const
{
    QStringList found = lines();
    found.removeIf([&](const QString &line) { return !line.startsWith(prefix); });
    return found;
}

QStringList LogCapture::warnings() const
{
    QStringList texts = linesStartingWith(QStringLiteral("WARN "));
    for (QString &text : texts)
        text.remove(0, 5);
    return texts;
}
