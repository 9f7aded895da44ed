#pragma once

#include "release/Downloader.h"
#include "sim/server/ReleaseServer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Deterministic, incompressible-looking bytes, different for every seed.
QByteArray firmwareBytes(qsizetype size, quint32 seed);

// The temporary directory when it is this test's private one (TMPDIR set by the test
// registration), otherwise empty: downloads land there and tests empty it.
QString privateTempDir();
// Removes everything inside the directory.
bool emptyDirectory(const QString &path);

// Requests the catalogue and waits until its reply is done (also when it brings nothing).
bool fetchCatalogue(Downloader &downloader, int timeoutMs = 10000);

// Equal lists, where an expected entry ending in '*' only needs to be a prefix.
bool eventsMatch(const QStringList &events, const QStringList &expected);

// Records every outcome signal of a Downloader in emission order, e.g.
// "status 1 Download completed", "finished 1 /tmp/x/fw.tvq fw.tvq", "transfer 1".
class OutcomeRecorder : public QObject
{
    Q_OBJECT
public:
    explicit OutcomeRecorder(Downloader *downloader);

    QStringList events;
    QList<qint64> progress;
    // Waits until setDeviceToTransferMode has been emitted `count` times in total.
    bool waitForTransferSignals(int count, int timeoutMs = 30000);

signals:
    void transferSignalled();

private:
    int transferSignals = 0;
};

// A loopback server offering one release of the given bytes, and a Downloader pointed at it.
struct OneRelease
{
    explicit OneRelease(const QByteArray &bytes, const QString &name = QStringLiteral("fw.tvq"),
                        ReleaseServer::Mode mode = ReleaseServer::Mode::Plain);
    // Fetches the catalogue, starts the download and waits for `transferSignals` outcomes.
    bool download(int transferSignals = 1);

    ReleaseServer server;
    Downloader downloader;
    OutcomeRecorder recorder;
};
