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

void ReleaseServerState::setTrickle(const QString &name, int bytes, int intervalMs)
{
    QMutexLocker lock(&mutex);
    Entry &entry = entries[name];
    entry.trickleBytes = bytes;
    entry.trickleIntervalMs = intervalMs;
}

ReleaseServerState::Entry ReleaseServerState::lookup(const QString &path) const
{
    QMutexLocker lock(&mutex);
    if (!path.startsWith(releasesPrefix))
        return Entry();
    return entries.value(path.mid(releasesPrefix.size()));
}

void ReleaseServerState::setResponder(Responder *newResponder)
{
    QMutexLocker lock(&responderMutex);
    responder = newResponder;
}

bool ReleaseServerState::respond(ServerConnection &connection, const HttpRequestHead &head,
                                 const Entry &entry)
{
    QMutexLocker lock(&responderMutex);
    return responder != nullptr && responder->answer(connection, head, entry);
}
