#include "sim/server/ReleaseServerState.h"

#include <QFileInfo>
#include <QMutexLocker>

namespace {
const QString releasesPrefix = QStringLiteral("/releases/");
} // namespace

void ReleaseServerState::setCatalogue(const QByteArray &json)
{
    addFile(QStringLiteral("releases.json"), json);
}

void ReleaseServerState::addFile(const QString &name, const QByteArray &bytes)
{
    QMutexLocker lock(&mutex);
    Entry &entry = entries[name];
    entry.found = true;
    entry.bytes = bytes;
    entry.sourcePath.clear();
    entry.size = bytes.size();
}

void ReleaseServerState::addFileFromPath(const QString &name, const QString &path)
{
    QMutexLocker lock(&mutex);
    Entry &entry = entries[name];
    entry.found = true;
    entry.bytes.clear();
    entry.sourcePath = path;
    entry.size = QFileInfo(path).size();
}

void ReleaseServerState::setRule(const QString &name, const ServeRule &rule)
{
    QMutexLocker lock(&mutex);
    entries[name].rule = rule;
    remainingTimes[name] = rule.times;
}

ReleaseServerState::Entry ReleaseServerState::lookup(const QString &path, bool isGet)
{
    QMutexLocker lock(&mutex);
    if (!path.startsWith(releasesPrefix))
        return Entry();
    const QString name = path.mid(releasesPrefix.size());
    const auto it = entries.constFind(name);
    if (it == entries.constEnd())
        return Entry();
    Entry entry = it.value();
    int &remaining = remainingTimes[name];
    entry.misbehave = remaining != 0;
    if (isGet && remaining > 0)
        --remaining;
    return entry;
}

void ReleaseServerState::recordRequest(const QByteArray &method, const QString &path)
{
    QMutexLocker lock(&mutex);
    ++counts[QString::fromLatin1(method) + QLatin1Char(' ') + path];
}

int ReleaseServerState::requestCount(const QByteArray &method, const QString &path) const
{
    QMutexLocker lock(&mutex);
    return counts.value(QString::fromLatin1(method) + QLatin1Char(' ') + path);
}
