#pragma once

#include "release/Downloader.h"
#include "sim/server/ReleaseServer.h"
#include "tests/support/Files.h"
#include "tests/support/SignalRecorder.h"

#include <QtTest>

// This test's private temporary directory (inside its private HOME, as registered), emptied, or
// an empty string when it is not private: downloads land there, and stale copies would count.
inline QString emptiedPrivateTempDir()
{
    const QString path = QDir::tempPath();
    if (path != qEnvironmentVariable("HOME") + QLatin1String("/tmp") ||
        !QDir(path).removeRecursively() || !QDir().mkpath(path))
        return QString();
    return path;
}

// Creates the Downloader's folder as it would (only we may use it), unless it is there.
inline bool makeDownloadFolder(const Downloader &downloader)
{
    return QDir().mkdir(downloader.downloadDirectory,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner) ||
           QFileInfo(downloader.downloadDirectory).isDir();
}

// Requests the catalogue and waits until its reply is done (also when it brings nothing).
inline bool fetchCatalogue(Downloader &downloader, int timeoutMs = 10000)
{
    QSignalSpy done(&downloader.networkManager, &QNetworkAccessManager::finished);
    downloader.fetchReleasesJson();
    return done.wait(timeoutMs);
}

// Equal lists, where an expected entry ending in '*' only needs to be a prefix.
inline bool eventsMatch(const QStringList &events, const QStringList &expected)
{
    bool same = events.size() == expected.size();
    for (qsizetype i = 0; same && i < events.size(); ++i)
        same = expected[i].endsWith('*') ? events[i].startsWith(expected[i].chopped(1))
                                         : events[i] == expected[i];
    return same;
}
#define VERIFY_EVENTS(events, ...)                                                                 \
    QVERIFY2(eventsMatch(events, __VA_ARGS__), qPrintable((events).join(QLatin1Char('\n'))))

// A loopback server offering one release of the given bytes (its "total_file_size" when one is
// given), and a Downloader pointed at it.
struct OneRelease
{
    explicit OneRelease(const QByteArray &bytes, const QString &name = QStringLiteral("fw.tvq"),
                        ReleaseServer::Mode mode = ReleaseServer::Mode::Plain,
                        const QString &totalFileSize = QString())
        : server(mode)
        , downloader(server.baseUrl())
    {
        // In emission order: "status true Download completed", "finished true <path> fw.tvq",
        // "transfer true"; the progress apart.
        outcomes.listen(&downloader, &Downloader::downloadStatus, "status");
        outcomes.listen(&downloader, &Downloader::downloadFinished, "finished");
        outcomes.listen(&downloader, &Downloader::setDeviceToTransferMode, "transfer");
        progress.listen(&downloader, &Downloader::downloadingProgressBar, "progress");
        server.setCatalogue(
            QStringLiteral(R"([{"file_name":"%1","version":"1.5.0","total_file_size":"%2"}])")
                .arg(name, totalFileSize)
                .toUtf8());
        server.addFile(name, bytes);
    }
    // Fetches the catalogue, starts the download and waits for `transferSignals` outcomes.
    bool download(int transferSignals = 1)
    {
        if (!fetchCatalogue(downloader))
            return false;
        downloader.downloadFile();
        return ended(transferSignals);
    }
    // Waits until setDeviceToTransferMode has been emitted `count` times in all.
    bool ended(int count = 1, int timeoutMs = 30000)
    {
        return outcomes.waitFor(QStringLiteral("transfer"), count, timeoutMs);
    }

    ReleaseServer server;
    Downloader downloader;
    SignalRecorder outcomes;
    SignalRecorder progress;
};
