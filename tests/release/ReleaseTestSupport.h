#pragma once

#include "release/Downloader.h"
#include "sim/server/ReleaseServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

// Deterministic, incompressible-looking bytes, different for every seed.
inline QByteArray firmwareBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = char(random.generate());
    return bytes;
}

// The file's bytes, empty when it cannot be read.
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// This test's private temporary directory (TMPDIR set by the registration), emptied, or an
// empty string when TMPDIR is not private: downloads land there, and stale copies would count.
inline QString emptiedPrivateTempDir()
{
    const QString path = QDir::tempPath();
    if (!qEnvironmentVariableIsSet("TMPDIR") || !path.contains(QLatin1String("/tmp/tst_")) ||
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
    if (events.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < events.size(); ++i) {
        const QString &want = expected.at(i);
        if (want.endsWith(QLatin1Char('*')) ? !events.at(i).startsWith(want.chopped(1))
                                            : events.at(i) != want)
            return false;
    }
    return true;
}
#define VERIFY_EVENTS(events, ...)                                                                 \
    QVERIFY2(eventsMatch(events, __VA_ARGS__), qPrintable((events).join(QLatin1Char('\n'))))

// Records every outcome signal of a Downloader in emission order, e.g.
// "status 1 Download completed", "finished 1 /tmp/x/fw.tvq fw.tvq", "transfer 1", and when it
// came (milliseconds on `clock`).
struct OutcomeRecorder : QObject
{
    explicit OutcomeRecorder(Downloader *downloader)
    {
        clock.start();
        connect(downloader, &Downloader::downloadStatus, this,
                [this](bool ok, const QString &text) {
                    record(QStringLiteral("status %1 %2").arg(ok).arg(text));
                });
        connect(downloader, &Downloader::downloadFinished, this,
                [this](bool ok, const QString &path, const QString &name) {
                    record(QStringLiteral("finished %1 %2 %3").arg(ok).arg(path, name));
                });
        connect(downloader, &Downloader::setDeviceToTransferMode, this,
                [this](bool ok) { record(QStringLiteral("transfer %1").arg(ok)); });
        connect(downloader, &Downloader::downloadingProgressBar, this,
                [this](qint64 value) { progress.append(value); });
    }
    // Waits until setDeviceToTransferMode has been emitted `count` times in total.
    bool waitForTransferSignals(int count, int timeoutMs = 30000)
    {
        return QTest::qWaitFor(
            [&] { return events.filter(QRegularExpression("^transfer ")).size() >= count; },
            timeoutMs);
    }

    void record(const QString &event)
    {
        events.append(event);
        at.append(clock.elapsed());
    }

    QStringList events;
    QList<qint64> at;
    QElapsedTimer clock;
    QList<qint64> progress;
};

// A loopback server offering one release of the given bytes (its "total_file_size" when one is
// given), and a Downloader pointed at it.
struct OneRelease
{
    explicit OneRelease(const QByteArray &bytes, const QString &name = QStringLiteral("fw.tvq"),
                        ReleaseServer::Mode mode = ReleaseServer::Mode::Plain,
                        const QString &totalFileSize = QString())
        : server(mode)
        , downloader(server.baseUrl())
        , recorder(&downloader)
    {
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
        return recorder.waitForTransferSignals(transferSignals);
    }

    ReleaseServer server;
    Downloader downloader;
    OutcomeRecorder recorder;
};
