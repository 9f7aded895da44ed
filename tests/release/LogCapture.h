#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects the messages of Qt's message functions from every thread while it exists, as
// "INFO <text>" or "WARN <text>", so tests can assert the exact log texts.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // The lines that begin with the given prefix.
    QStringList linesStartingWith(const QString &prefix) const;
    // The warnings' texts alone.
    QStringList warnings() const;

private:
    QtMessageHandler previous = nullptr;
};
