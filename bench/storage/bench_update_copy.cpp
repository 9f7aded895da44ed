// The update copy of a 256 MiB file onto a tmpfs folder, as the program does it (FileManager on a
// worker thread, progress queued to the GUI thread), against cp of the same file on the same
// file system in the same run. Also watches the GUI thread's event loop for stalls.
//   bench_update_copy [MiB] [runs]
#include "sim/volumes/SimulatedVolumes.h"
#include "storage/FileManager.h"
#include "storage/VolumeDismounter.h"
#include "storage/VolumeList.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// One fixed volume with plain files: exactly what the system list hands the copy on Linux
// (tmpfs is not among QStorageInfo's volumes, so the folder is named here).
class FolderVolume : public VolumeList, public VolumeDismounter
{
public:
    explicit FolderVolume(const QString &root)
        : rootPath(root)
    {
    }
    QList<VolumeEntry> mountedVolumes() override
    {
        VolumeEntry e;
        e.rootPath = rootPath;
        e.displayName = QStringLiteral("tovikupd");
        e.valid = e.ready = true;
        return {e};
    }
    std::unique_ptr<QFile> fileOnVolume(const QString &path) override
    {
        return std::make_unique<QFile>(path);
    }
    bool dismount(const QString &) override { return true; }

private:
    QString rootPath;
};

struct CopyResult
{
    double seconds = 0;
    int progressEvents = 0;
    int lastProgress = -1;
    double longestStallMs = 0;
    bool success = false;
};

CopyResult runFileManager(VolumeList *volumes, VolumeDismounter *dismounter, const QString &source,
                          bool progressOnWorker = false)
{
    CopyResult result;
    QThread worker;
    auto *fileManager = new FileManager(volumes, dismounter);
    fileManager->moveToThread(&worker);
    QObject::connect(&worker, &QThread::finished, fileManager, &QObject::deleteLater);
    worker.start();

    QObject receiver; // stands for MainController on the GUI thread
    // progressOnWorker: counted where it is emitted, to show what the crossing itself costs.
    QObject::connect(
        fileManager, &FileManager::copyProgress, &receiver,
        [&](int p) {
            ++result.progressEvents;
            result.lastProgress = p;
        },
        progressOnWorker ? Qt::DirectConnection : Qt::AutoConnection);

    // A 1 ms timer on the GUI thread: the longest gap between its ticks is the longest time the
    // event loop could not answer.
    QElapsedTimer tick;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        result.longestStallMs = std::max(result.longestStallMs, tick.nsecsElapsed() / 1e6);
        tick.restart();
    });

    QElapsedTimer clock;
    QObject::connect(fileManager, &FileManager::fileTransferComplete, &receiver, [&](bool ok) {
        result.seconds = clock.nsecsElapsed() / 1e9;
        result.success = ok;
        QCoreApplication::exit(0);
    });
    QMetaObject::invokeMethod(fileManager, "onDownloadFinished", Qt::QueuedConnection,
                              Q_ARG(bool, true), Q_ARG(QString, source),
                              Q_ARG(QString, QFileInfo(source).fileName()));
    tick.start();
    heartbeat.start();
    clock.start();
    QMetaObject::invokeMethod(fileManager, "onDeviceSetToTransferMode", Qt::QueuedConnection);
    QCoreApplication::exec();
    heartbeat.stop();
    worker.quit();
    worker.wait();
    return result;
}

// The floor under any copy in 4096-byte steps through a user buffer: bare read/write calls,
// no Qt, no progress.
double runRawLoop(const QString &source, const QString &target)
{
    QElapsedTimer clock;
    clock.start();
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY);
    const int out =
        ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char buffer[4096];
    ssize_t n = 0;
    while (in >= 0 && out >= 0 && (n = ::read(in, buffer, sizeof buffer)) > 0) {
        if (::write(out, buffer, static_cast<size_t>(n)) != n)
            break;
    }
    ::close(in);
    ::close(out);
    return clock.nsecsElapsed() / 1e9;
}

// The longest gap of a 1 ms timer while nothing else runs: what the machine's load alone costs.
double idleStallMs()
{
    double longest = 0;
    QElapsedTimer tick;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longest = std::max(longest, tick.nsecsElapsed() / 1e6);
        tick.restart();
    });
    QTimer::singleShot(500, [] { QCoreApplication::exit(0); });
    tick.start();
    heartbeat.start();
    QCoreApplication::exec();
    return longest;
}

double runCp(const QString &source, const QString &target)
{
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("cp"), {source, target});
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 256;
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    const qint64 size = mib * 1024 * 1024;

    QTemporaryDir dir(QStringLiteral("/dev/shm/tovik-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "no tmpfs at /dev/shm\n");
        return 1;
    }
    const QString source = dir.filePath(QStringLiteral("update.tvq"));
    const QString volume = dir.filePath(QStringLiteral("volume"));
    QDir().mkpath(volume);
    {
        QFile file(source);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 31 + i / 4096);
        for (qint64 written = 0; written < size; written += block.size())
            file.write(block);
    }

    FolderVolume folder(volume);
    SimulatedVolumes simulated;
    simulated.addVolume(QStringLiteral("tovikupd"), volume);

    std::printf("%-28s %9s %10s %9s %10s\n", "run", "seconds", "MiB/s", "progress", "stall ms");
    double bestCp = 1e9, bestFm = 1e9, bestSim = 1e9, bestRaw = 1e9, worstStall = 0, idle = 0;
    for (int run = 0; run < runs; ++run) {
        const QString target = QDir(volume).filePath(QStringLiteral("tvxxfer.tvq"));
        const double cp = runCp(source, QDir(volume).filePath(QStringLiteral("cp.bin")));
        QFile::remove(QDir(volume).filePath(QStringLiteral("cp.bin")));
        bestCp = std::min(bestCp, cp);
        std::printf("%-28s %9.3f %10.0f %9s %10s\n", "cp", cp, mib / cp, "-", "-");

        const double raw = runRawLoop(source, QDir(volume).filePath(QStringLiteral("raw.bin")));
        QFile::remove(QDir(volume).filePath(QStringLiteral("raw.bin")));
        bestRaw = std::min(bestRaw, raw);
        std::printf("%-28s %9.3f %10.0f %9s %10s\n", "read/write 4096, no Qt", raw, mib / raw, "-",
                    "-");

        const double quiet = idleStallMs();
        idle = std::max(idle, quiet);
        std::printf("%-28s %9s %10s %9s %10.2f\n", "idle event loop, 0.5 s", "-", "-", "-", quiet);

        const CopyResult fm = runFileManager(&folder, &folder, source);
        QFile::remove(target);
        bestFm = std::min(bestFm, fm.seconds);
        worstStall = std::max(worstStall, fm.longestStallMs);
        std::printf("%-28s %9.3f %10.0f %9d %10.2f%s\n", "FileManager (plain files)", fm.seconds,
                    mib / fm.seconds, fm.progressEvents, fm.longestStallMs,
                    fm.success && fm.lastProgress == 100 ? "" : "  FAILED");

        const CopyResult direct = runFileManager(&folder, &folder, source, true);
        QFile::remove(target);
        std::printf("%-28s %9.3f %10.0f %9d %10.2f%s\n", "FileManager, no thread hop",
                    direct.seconds, mib / direct.seconds, direct.progressEvents,
                    direct.longestStallMs,
                    direct.success && direct.lastProgress == 100 ? "" : "  FAILED");

        simulated.addVolume(QStringLiteral("tovikupd"), volume); // the dismount removed it
        const CopyResult sim = runFileManager(&simulated, &simulated, source);
        QFile::remove(target);
        bestSim = std::min(bestSim, sim.seconds);
        std::printf("%-28s %9.3f %10.0f %9d %10.2f%s\n", "FileManager (simulated vol.)",
                    sim.seconds, mib / sim.seconds, sim.progressEvents, sim.longestStallMs,
                    sim.success && sim.lastProgress == 100 ? "" : "  FAILED");
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "\nbest: cp %.0f MiB/s, FileManager %.0f MiB/s (%.2f of cp), simulated %.0f MiB/s "
        "(%.2f of cp), bare 4096-byte loop %.0f MiB/s (%.2f of cp)\n"
        "longest GUI-thread stall during copies %.2f ms (idle: %.2f ms), peak RSS %ld MiB\n",
        mib / bestCp, mib / bestFm, bestCp / bestFm, mib / bestSim, bestCp / bestSim, mib / bestRaw,
        bestCp / bestRaw, worstStall, idle, usage.ru_maxrss / 1024);
    return 0;
}
