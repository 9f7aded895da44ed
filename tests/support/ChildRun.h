#pragma once

#include <QtTest>

// A run of a program in a child process of its own, as the program runs once per process: HOME,
// the configuration folder and the working folder at home, plus env ("NAME=value" each).
struct ChildRun
{
    bool finished = false;
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1; // the signal number after a crash
    qint64 pid = 0;
    QString out, err;

    // The value after "<label> " on the standard output ("thread 1a2b": "1a2b").
    QString value(const char *label) const
    {
        return QRegularExpression(QStringLiteral("^%1 (\\S+)\\r?$").arg(QLatin1String(label)),
                                  QRegularExpression::MultilineOption)
            .match(out)
            .captured(1);
    }
};

inline ChildRun runChild(const QString &program, const QStringList &args, const QString &home,
                         const QStringList &env = {}, int timeoutMs = 60000)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &setting : QStringList{"HOME=" + home, "XDG_CONFIG_HOME=" + home} + env)
        environment.insert(setting.section(QLatin1Char('='), 0, 0),
                           setting.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(home);
    process.start(program, args);
    ChildRun result;
    result.pid = process.waitForStarted(10000) ? process.processId() : 0;
    result.finished = result.pid != 0 && process.waitForFinished(timeoutMs);
    if (!result.finished)
        process.kill();
    result.status = process.exitStatus();
    result.code = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}
