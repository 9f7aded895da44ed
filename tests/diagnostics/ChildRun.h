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

// Runs diagchild with the scenario, XDG_CONFIG_HOME and HOME pointed at configHome.
ChildRun runChild(const QString &scenario, const QString &configHome);

// The log directory the child uses below configHome.
QString childLogDir(const QString &configHome);

// The log files in dir, oldest name first.
QStringList logFiles(const QString &dir);

// The lines of a text file, without their line ends (a final "\n" does not add an empty line).
QStringList readLines(const QString &path);

// The value after "<label> " on the child's standard output ("main 1a2b" -> "1a2b").
QString childValue(const ChildRun &run, const QString &label);
