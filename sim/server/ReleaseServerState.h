#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

class ServerConnection;
struct HttpRequestHead;

// What the server serves, shared between the thread that scripts it and the server's thread
// (which answers); every access holds the lock.
class ReleaseServerState
{
public:
    struct Entry
    {
        bool found = false;
        QByteArray bytes;   // in-memory content, or
        QString sourcePath; // a file on disk, streamed in chunks
        qint64 size = 0;
        // Positive: the body goes out in pieces of this many bytes, trickleIntervalMs apart.
        int trickleBytes = 0;
        int trickleIntervalMs = 0;
    };

    // A test's own answers: asked for every well-formed request before the server's answer.
    class Responder
    {
    public:
        virtual ~Responder() = default;
        // True when it has answered through the connection.
        virtual bool answer(ServerConnection &connection, const HttpRequestHead &head,
                            const Entry &entry) = 0;
    };

    void setCatalogue(const QByteArray &json);
    void addFile(const QString &name, const QByteArray &bytes);
    void addFileFromPath(const QString &name, const QString &path);
    void setTrickle(const QString &name, int bytes, int intervalMs);
    // Looks up "/releases/<name>".
    Entry lookup(const QString &path) const;
    // Null: none. Waits for an answer the old responder is giving.
    void setResponder(Responder *responder);
    bool respond(ServerConnection &connection, const HttpRequestHead &head, const Entry &entry);

private:
    mutable QMutex mutex;
    QHash<QString, Entry> entries;
    QMutex responderMutex;
    Responder *responder = nullptr;
};
