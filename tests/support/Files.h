#pragma once

#include <QtTest>

// What tests read and write: files and bytes, and the run's log file.

// Deterministic, incompressible-looking bytes, different for every seed.
inline QByteArray firmwareBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = char(random.generate());
    return bytes;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

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

// The file's bytes, empty when it cannot be read.
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString readLog(const QString &path = logFileOf())
{
    return QString::fromUtf8(fileBytes(path));
}

// What this process's log file gained since construction (the log started first, in a test
// function: the test library takes Qt's messages over until then).
class LogWatch
{
public:
    QString text() const { return readLog().mid(start); }
    int count(const QString &piece) const { return int(text().count(piece)); }
    QStringList lines() const { return text().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    // The messages alone, as "INFO <text>", "WARN <text>": no time, thread or source.
    QStringList messages() const
    {
        static const QRegularExpression line(
            QStringLiteral("^\\S+ \\S+ (DEBUG|INFO|WARN|CRIT|FATAL) ? \\[[0-9a-f]+\\] (.*?)(?: "
                           "\\(\\S+:\\d+\\))?$"));
        QStringList found;
        for (const QString &text : lines()) {
            const QRegularExpressionMatch m = line.match(text);
            if (m.hasMatch())
                found << m.captured(1) + QLatin1Char(' ') + m.captured(2);
        }
        return found;
    }

private:
    qsizetype start = readLog().size();
};
