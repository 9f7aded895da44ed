#include "ChildRun.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSysInfo>

ChildRun runProgram(const QString &program, const QStringList &args, const QString &configHome,
                    const QStringList &environment)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("HOME"), configHome);
    for (const QString &setting : environment)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(configHome);
    process.start(program, args);
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

ChildRun runChild(const QString &scenario, const QString &configHome)
{
    return runProgram(QStringLiteral(DIAGCHILD_PATH), {scenario}, configHome);
}

QString childLogDir(const QString &configHome)
{
    return configHome + QStringLiteral("/Tovik-Instruments/Tovik Updater/logs");
}

QStringList logFiles(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("updater-*.log")}, QDir::Files, QDir::Name);
}

ChildLog readChildLog(const QString &configHome, qint64 pid)
{
    ChildLog log;
    const QString dir = childLogDir(configHome);
    const QStringList files = logFiles(dir);
    const QRegularExpression name(QStringLiteral("^updater-\\d{8}-\\d{6}-%1\\.log$").arg(pid));
    if (files.size() != 1 || !name.match(files.first()).hasMatch()) {
        log.problem = QStringLiteral("log files: %1").arg(files.join(QLatin1Char(',')));
        return log;
    }
    log.path = dir + QLatin1Char('/') + files.first();
    QFile file(log.path);
    if (!file.open(QIODevice::ReadOnly)) {
        log.problem = QStringLiteral("cannot read %1").arg(log.path);
        return log;
    }
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    const QStringList lines = text.split(QLatin1Char('\n'));
    const auto q = [](const QString &s) {
        return QRegularExpression::escape(s);
    };
    const QStringList header = {
        QStringLiteral("=== Tovik Updater 9\\.8\\.7 ==="),
        QStringLiteral("started      ") + timestamp,
        QStringLiteral("os           %1 \\(%2\\)")
            .arg(q(QSysInfo::prettyProductName()), q(QSysInfo::kernelVersion())),
        QStringLiteral("build arch   ") + q(QSysInfo::buildCpuArchitecture()),
        QStringLiteral("host arch    ") + q(QSysInfo::currentCpuArchitecture()),
        QStringLiteral("qt runtime   ") + q(QString::fromLatin1(qVersion())),
        QStringLiteral("log file     ") + q(log.path),
        QString()};
    log.problem = mismatch(lines.mid(0, header.size()), header);
    log.lines = lines.mid(header.size());
    return log;
}

QString childValue(const ChildRun &run, const QString &label)
{
    const QRegularExpression re(QStringLiteral("^%1 (\\S+)\\r?$").arg(label),
                                QRegularExpression::MultilineOption);
    return re.match(run.out).captured(1);
}

QString mismatch(const QStringList &lines, const QStringList &patterns)
{
    for (qsizetype i = 0; i < qMin(lines.size(), patterns.size()); ++i) {
        const QRegularExpression re(QRegularExpression::anchoredPattern(patterns.at(i)));
        if (!re.isValid() || !re.match(lines.at(i)).hasMatch())
            return QStringLiteral("line %1: \"%2\" does not match \"%3\"")
                .arg(i)
                .arg(lines.at(i), patterns.at(i));
    }
    if (lines.size() != patterns.size())
        return QStringLiteral("%1 lines, expected %2:\n%3")
            .arg(lines.size())
            .arg(patterns.size())
            .arg(lines.join(QLatin1Char('\n')));
    return {};
}
