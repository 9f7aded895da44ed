#pragma once

#include <QString>

#include <mutex>

class QFile;

// The one process-wide log state. Constant-initialised, so it exists before main and before any
// other static object that might log.
struct LogState
{
    bool initialised = false;
    QString appVersion;
    QString logDir; // forward slashes; the crash handlers put their dumps here too
    QString logPath;
    QFile *logFile = nullptr; // never closed: every line is flushed, the OS closes it at exit
    std::mutex logMutex;
};

LogState &logState();
