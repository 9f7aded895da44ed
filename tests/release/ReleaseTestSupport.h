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
// The file's bytes, empty when it cannot be read.
QByteArray fileBytes(const QString &path);

// This test's private temporary directory (TMPDIR set by the registration), emptied, or an
// empty string when TMPDIR is not private: downloads land there, and stale copies would count.
QString emptiedPrivateTempDir();

// Creates the Downloader's folder as it would (only we may use it); false when that failed.
bool makeDownloadFolder(const Downloader &downloader);

// Requests the catalogue and waits until its reply is done (also when it brings nothing).
bool fetchCatalogue(Downloader &downloader, int timeoutMs = 10000);

// Equal lists, where an expected entry ending in '*' only needs to be a prefix.
bool eventsMatch(const QStringList &events, const QStringList &expected);
#define VERIFY_EVENTS(events, ...)                                                                 \
    QVERIFY2(eventsMatch(events, __VA_ARGS__), qPrintable((events).join(QLatin1Char('\n'))))

// Records every outcome signal of a Downloader in emission order, e.g.
// "status 1 Download completed", "finished 1 /tmp/x/fw.tvq fw.tvq", "transfer 1".
struct OutcomeRecorder : QObject
{
    explicit OutcomeRecorder(Downloader *downloader);
    // Waits until setDeviceToTransferMode has been emitted `count` times in total.
    bool waitForTransferSignals(int count, int timeoutMs = 30000);

    QStringList events;
    QList<qint64> progress;
};

// A loopback server offering one release of the given bytes (its "total_file_size" when one is
// given), and a Downloader pointed at it.
struct OneRelease
{
    explicit OneRelease(const QByteArray &bytes, const QString &name = QStringLiteral("fw.tvq"),
                        ReleaseServer::Mode mode = ReleaseServer::Mode::Plain,
                        const QString &totalFileSize = QString());
    // Fetches the catalogue, starts the download and waits for `transferSignals` outcomes.
    bool download(int transferSignals = 1);

    ReleaseServer server;
    Downloader downloader;
    OutcomeRecorder recorder;
};
