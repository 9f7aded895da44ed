#pragma once

#include "sim/server/ReleaseServerState.h"
#include "sim/server/ServeRule.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>

class ReleaseListener;

// A release server on 127.0.0.1 for tests, benchmarks and the demo. It answers on its own
// thread, so a busy or blocked caller never slows it down; every method here may be called
// from the thread that created it, and the signals arrive on that thread.
//
//   ReleaseServer server;
//   server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
//   server.addFile("fw.tvq", bytes);
//   Downloader downloader(server.baseUrl());
class ReleaseServer : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Plain, Tls };

    explicit ReleaseServer(Mode mode = Mode::Plain, QObject *parent = nullptr);
    ~ReleaseServer() override;

    bool isListening() const { return port != 0; }
    // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>", without trailing slash.
    QUrl baseUrl() const;
    // TLS mode: the throw-away self-signed certificate (PEM) a client would have to trust.
    QString certificatePath() const { return certificateFile; }

    void setCatalogue(const QByteArray &json);
    void addFile(const QString &name, const QByteArray &bytes);
    // Streams the file from disk on every request, for files too large to hold twice.
    void addFileFromPath(const QString &name, const QString &path);
    // The behaviour for one file name; "releases.json" is the catalogue.
    void setRule(const QString &name, const ServeRule &rule);

    // How many requests of this method ("GET", "HEAD") reached "/releases/<name>".
    int requestCount(const QByteArray &method, const QString &name) const;

    // Writes a fresh self-signed certificate for 127.0.0.1 with the openssl program.
    static bool generateCertificate(const QString &directory, QString *certificatePath,
                                    QString *keyPath, QString *error);

signals:
    void requestReceived(const QString &method, const QString &path);
    void requestEnded(const QString &method, const QString &path, qint64 bodyBytesSent,
                      bool complete);

private:
    ReleaseServerState state;
    QThread thread;
    ReleaseListener *listener = nullptr;
    Mode mode;
    quint16 port = 0;
    QString certificateDirectory;
    QString certificateFile;
};
