#pragma once

#include <QString>
#include <QtGlobal>

// The per-run log file. Every function here is safe to call before initLogging (it then does
// nothing) and from any thread.
void initLogging(const QString &version);
void writeLogLine(const QString &line);
QString logTimestamp();
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
void logTrace(const QString &text);
// A reason the program cannot start: logged, and told on standard error, where a terminal or a
// launcher shows it.
void reportStartupFailure(const QString &text);
