#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

// The log directory of a run whose configuration folder is configHome, where users find it.
inline QString logDirectory(const QString &configHome = QStandardPaths::writableLocation(
                                QStandardPaths::GenericConfigLocation))
{
    return configHome + QStringLiteral("/Tovik-Instruments/Tovik Updater/logs");
}

// The log file of the process pid (this one by default) in dir; empty when there is none.
inline QString logFileOf(const QString &dir = logDirectory(),
                         qint64 pid = QCoreApplication::applicationPid())
{
    return QDir(dir)
        .entryInfoList({QStringLiteral("updater-*-%1.log").arg(pid)}, QDir::Files)
        .value(0)
        .filePath();
}

inline QString readLog(const QString &path = logFileOf())
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// What this process's log file gained since construction.
class LogWatch
{
public:
    QString text() const { return readLog().mid(start); }
    int count(const QString &piece) const { return int(text().count(piece)); }
    QStringList lines() const { return text().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

private:
    qsizetype start = readLog().size();
};
