#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects Qt's messages from every thread while it exists, as "INFO <text>", "WARN <text>",
// "DEBUG <text>" or "CRIT <text>", so tests can assert the exact log texts.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    QStringList linesStartingWith(const QString &prefix) const;
    // The warnings' texts alone.
    QStringList warnings() const;

private:
    QtMessageHandler previous = nullptr;
};
