#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One run of the diagchild helper with its own configuration folder.
struct ChildRun
{
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1; // the signal number when exitStatus is CrashExit
    qint64 pid = 0;
    QString out;
    QString err;
    bool finished = false;
};

// The log file a finished child left, its header (version "9.8.7") already checked.
struct ChildLog
{
    QString path;
    QStringList lines; // after the header
    QString problem;   // why the log is not one file named after the child with its header
};

// "yyyy-MM-dd HH:mm:ss.zzz" as a pattern.
inline const QString timestamp =
    QStringLiteral("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}");

// Runs the program in configHome, with XDG_CONFIG_HOME and HOME pointed there and the extra
// environment ("NAME=value") added.
ChildRun runProgram(const QString &program, const QStringList &args, const QString &configHome,
                    const QStringList &environment = {});
// Runs diagchild with the scenario.
ChildRun runChild(const QString &scenario, const QString &configHome);

// The log directory the child uses below configHome, and the log files in it, oldest first.
QString childLogDir(const QString &configHome);
QStringList logFiles(const QString &dir);

ChildLog readChildLog(const QString &configHome, qint64 pid);

// The value after "<label> " on the child's standard output ("thread 1a2b" -> "1a2b").
QString childValue(const ChildRun &run, const QString &label);

// Empty if every line matches its pattern (anchored) and the counts agree; else the first
// difference.
QString mismatch(const QStringList &lines, const QStringList &patterns);
