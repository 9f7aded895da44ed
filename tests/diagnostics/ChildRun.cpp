#include "ChildRun.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>

ChildRun runChild(const QString &scenario, const QString &configHome)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("HOME"), configHome);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(configHome);
    process.start(QStringLiteral(DIAGCHILD_PATH), {scenario});
    ChildRun run;
    if (!process.waitForStarted(10000))
        return run;
    run.pid = process.processId();
    run.finished = process.waitForFinished(60000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString childLogDir(const QString &configHome)
{
    return configHome + QStringLiteral("/Tovik-Instruments/Tovik Updater/logs");
}

QStringList logFiles(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("updater-*.log")}, QDir::Files, QDir::Name);
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

QString childValue(const ChildRun &run, const QString &label)
{
    const QRegularExpression re(QStringLiteral("^%1 (\\S+)$").arg(label),
                                QRegularExpression::MultilineOption);
    return re.match(run.out).captured(1);
}
