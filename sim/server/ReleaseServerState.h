#pragma once

#include "sim/server/ServeRule.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

// What the server serves, shared between the test's thread (which scripts it) and the
// server's thread (which answers); every access holds the lock.
class ReleaseServerState
{
public:
    struct Entry
    {
        bool found = false;
        QByteArray bytes;   // in-memory content, or
        QString sourcePath; // a file on disk, streamed in chunks
        qint64 size = 0;
        ServeRule rule;
        bool misbehave = false; // whether the body rule applies to this GET
    };

    void setCatalogue(const QByteArray &json);
    void addFile(const QString &name, const QByteArray &bytes);
    void addFileFromPath(const QString &name, const QString &path);
    void setRule(const QString &name, const ServeRule &rule);
    // Looks up "/releases/<name>"; for a GET it also counts down the rule's times.
    Entry lookup(const QString &path, bool isGet);
    void recordRequest(const QByteArray &method, const QString &path);
    int requestCount(const QByteArray &method, const QString &path) const;

private:
    mutable QMutex mutex;
    QHash<QString, Entry> entries;
    QHash<QString, int> remainingTimes;
    QHash<QString, int> counts;
};
