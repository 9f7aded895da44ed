// The update copy of a 256 MiB file, as the program does it (FileManager on a worker thread,
// progress queued to the GUI thread, the copy flushed to the device before it is renamed),
// against cp followed by sync of the same file in the same run: onto a tmpfs folder and onto
// an ext4 volume on a loop device (root only; the image lives on the disk under /var/tmp).
// Also watches the GUI thread's event loop for stalls.
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

// The floor under any copy in 4096-byte steps through a user buffer: bare read/write calls and
// one fsync, no Qt, no progress.
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
    ::fsync(out);
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

// cp, then sync of the copy (coreutils' sync FILE is an fsync of that file).
double runCpSync(const QString &source, const QString &target)
{
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("cp"), {source, target});
    QProcess::execute(QStringLiteral("sync"), {target});
    return clock.nsecsElapsed() / 1e9;
}

int run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A fresh ext4 file system on a loop device, mounted at a temporary folder; empty when that is
// not possible here (not root, no loop devices).
struct LoopVolume
{
    explicit LoopVolume(qint64 bytes)
    {
        image =
            QStringLiteral("/var/tmp/tovik-bench-%1.img").arg(QCoreApplication::applicationPid());
        if (::geteuid() != 0 ||
            run(QStringLiteral("truncate"),
                {QStringLiteral("-s"), QString::number(bytes), image}) != 0 ||
            run(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), image}) !=
                0)
            return;
        QProcess losetup;
        losetup.start(QStringLiteral("losetup"),
                      {QStringLiteral("-f"), QStringLiteral("--show"), image});
        losetup.waitForFinished(-1);
        device = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
        if (device.isEmpty() || run(QStringLiteral("mount"), {device, mountPoint.path()}) != 0)
            return;
        root = mountPoint.path();
    }
    ~LoopVolume()
    {
        if (!root.isEmpty())
            run(QStringLiteral("umount"), {root});
        if (!device.isEmpty())
            run(QStringLiteral("losetup"), {QStringLiteral("-d"), device});
        QFile::remove(image);
    }
    QString image;
    QString device;
    QTemporaryDir mountPoint;
    QString root;
};

} // namespace

struct Best
{
    double cp = 1e9, raw = 1e9, fm = 1e9, direct = 1e9, sim = 1e9, stall = 0;
};

// One target folder: every way of copying, `runs` times; the best of each.
Best measure(const QString &label, const QString &source, const QString &volume, qint64 mib,
             int runs, bool withSimulated)
{
    FolderVolume folder(volume);
    SimulatedVolumes simulated;
    Best best;
    const QString target = QDir(volume).filePath(QStringLiteral("tvxxfer.tvq"));
    const auto line = [&](const char *what, double seconds, const CopyResult *copy = nullptr) {
        std::printf("%-8s %-30s %9.3f %10.0f", qPrintable(label), what, seconds, mib / seconds);
        if (copy)
            std::printf(" %9d %10.2f%s", copy->progressEvents, copy->longestStallMs,
                        copy->success && copy->lastProgress == 100 ? "" : "  FAILED");
        std::printf("\n");
    };
    for (int run = 0; run < runs; ++run) {
        const QString other = QDir(volume).filePath(QStringLiteral("other.bin"));
        const double cp = runCpSync(source, other);
        QFile::remove(other);
        best.cp = std::min(best.cp, cp);
        line("cp + sync", cp);

        const double raw = runRawLoop(source, other);
        QFile::remove(other);
        best.raw = std::min(best.raw, raw);
        line("read/write 4096 + fsync", raw);

        const CopyResult fm = runFileManager(&folder, &folder, source);
        QFile::remove(target);
        best.fm = std::min(best.fm, fm.seconds);
        best.stall = std::max(best.stall, fm.longestStallMs);
        line("FileManager (as shipped)", fm.seconds, &fm);

        const CopyResult direct = runFileManager(&folder, &folder, source, true);
        QFile::remove(target);
        best.direct = std::min(best.direct, direct.seconds);
        line("FileManager, no thread hop", direct.seconds, &direct);

        if (!withSimulated)
            continue;
        simulated.addVolume(QStringLiteral("tovikupd"), volume);
        const CopyResult sim = runFileManager(&simulated, &simulated, source);
        QFile::remove(target);
        best.sim = std::min(best.sim, sim.seconds);
        line("FileManager (simulated vol.)", sim.seconds, &sim);
    }
    return best;
}

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

    std::printf("%-8s %-30s %9s %10s %9s %10s\n", "target", "run", "seconds", "MiB/s", "progress",
                "stall ms");
    const double idle = idleStallMs();
    const Best tmpfs = measure(QStringLiteral("tmpfs"), source, volume, mib, runs, true);
    LoopVolume loop(3 * size + (qint64(64) << 20));
    Best ext4;
    if (loop.root.isEmpty())
        std::printf("ext4     (no loop-mounted volume here: needs root and a loop device)\n");
    else
        ext4 = measure(QStringLiteral("ext4"), source, loop.root, mib, runs, false);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    for (const auto &[label, best] : {std::pair{"tmpfs", tmpfs}, std::pair{"ext4", ext4}}) {
        if (best.cp >= 1e9)
            continue;
        std::printf(
            "\nbest on %s: cp + sync %.0f MiB/s; FileManager %.0f MiB/s (%.2f of cp + sync), "
            "no thread hop %.0f MiB/s (%.2f), bare loop + fsync %.0f MiB/s (%.2f)",
            label, mib / best.cp, mib / best.fm, best.cp / best.fm, mib / best.direct,
            best.cp / best.direct, mib / best.raw, best.cp / best.raw);
        if (best.sim < 1e9)
            std::printf(", simulated %.0f MiB/s (%.2f)", mib / best.sim, best.cp / best.sim);
        std::printf("; longest GUI-thread stall %.2f ms\n", best.stall);
    }
    std::printf("idle event loop stall %.2f ms, peak RSS %ld MiB\n", idle, usage.ru_maxrss / 1024);
    return 0;
}
