// Downloads a 128 MiB file from the loopback release server with the Downloader and with
// curl in the same run, and reports throughput and the Downloader's peak memory.
//   bench_release_download [runs]

#include "release/Downloader.h"
#include "sim/server/ReleaseServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {
constexpr qint64 fileBytes = qint64(128) * 1024 * 1024;

qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Starts a new peak-RSS measurement from the current resident size.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool writeSource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qint64 written = 0; written < fileBytes; written += block.size()) {
        for (char &c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x);
        }
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}

double mibPerSecond(qint64 ms)
{
    return ms > 0 ? double(fileBytes) / (1024.0 * 1024.0) / (double(ms) / 1000.0) : 0.0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    QTemporaryDir work;
    const QString source = work.filePath(QStringLiteral("source.bin"));
    if (!writeSource(source)) {
        std::fprintf(stderr, "cannot write the source file\n");
        return 1;
    }
    ReleaseServer server;
    server.setCatalogue(R"([{"file_name":"big.tvq","version":"9.9.9"}])");
    server.addFileFromPath(QStringLiteral("big.tvq"), source);
    const QString url = server.baseUrl().toString() + QStringLiteral("/releases/big.tvq");

    QList<qint64> curlMs;
    QList<qint64> downloaderMs;
    qint64 worstPeakAboveIdleKiB = 0;
    for (int run = 0; run < runs; ++run) {
        const QString curlOut = work.filePath(QStringLiteral("curl.bin"));
        QElapsedTimer clock;
        clock.start();
        const int curlExit = QProcess::execute(
            QStringLiteral("curl"), {QStringLiteral("-sS"), QStringLiteral("-o"), curlOut, url});
        curlMs.append(clock.elapsed());
        if (curlExit != 0 || QFileInfo(curlOut).size() != fileBytes) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        QFile::remove(curlOut);

        QTemporaryDir target;
        qint64 idleKiB = 0;
        bool ok = false;
        {
            Downloader downloader(server.baseUrl());
            downloader.downloadDirectory = target.path();
            downloader.fileName = QStringLiteral("big.tvq");
            downloader.downloadUrl = url;
            QEventLoop loop;
            QObject::connect(&downloader, &Downloader::setDeviceToTransferMode, &loop,
                             [&](bool success) {
                                 ok = success;
                                 loop.quit();
                             });
            qint64 firstByteMs = -1;
            qint64 lastByteMs = -1;
            QObject::connect(&downloader, &Downloader::downloadingProgressBar, &loop, [&] {
                lastByteMs = clock.elapsed();
                if (firstByteMs < 0)
                    firstByteMs = lastByteMs;
            });
            idleKiB = statusKiB("VmRSS:");
            resetPeak();
            clock.restart();
            downloader.downloadFile();
            loop.exec();
            downloaderMs.append(clock.elapsed());
            std::printf("  first byte %lld ms, last byte %lld ms, saved at %lld ms\n", firstByteMs,
                        lastByteMs, downloaderMs.last());
        }
        const qint64 peakKiB = statusKiB("VmHWM:");
        const qint64 savedBytes = QFileInfo(target.filePath(QStringLiteral("big.tvq"))).size();
        if (!ok || savedBytes != fileBytes) {
            std::fprintf(stderr, "Downloader failed\n");
            return 1;
        }
        worstPeakAboveIdleKiB = std::max(worstPeakAboveIdleKiB, peakKiB - idleKiB);
        std::printf("run %d: curl %lld ms (%.0f MiB/s), Downloader %lld ms (%.0f MiB/s), "
                    "peak %lld MiB above idle\n",
                    run + 1, curlMs.last(), mibPerSecond(curlMs.last()), downloaderMs.last(),
                    mibPerSecond(downloaderMs.last()), (peakKiB - idleKiB) / 1024);
    }
    std::sort(curlMs.begin(), curlMs.end());
    std::sort(downloaderMs.begin(), downloaderMs.end());
    const qint64 curlMedian = curlMs.at(curlMs.size() / 2);
    const qint64 downloaderMedian = downloaderMs.at(downloaderMs.size() / 2);
    std::printf("median: curl %.0f MiB/s, Downloader %.0f MiB/s, ratio %.2f; "
                "worst peak %.2f x file size above idle\n",
                mibPerSecond(curlMedian), mibPerSecond(downloaderMedian),
                double(curlMedian) / double(downloaderMedian),
                double(worstPeakAboveIdleKiB) * 1024.0 / double(fileBytes));
    return 0;
}
