#include "FrameWatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QQuickWindow>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

namespace {

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Peak resident set size so far, from the kernel's own bookkeeping.
qint64 peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// CPU time of all threads so far: steadier than wall time on a machine shared with builds.
std::int64_t cpuNs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ns = [](const timeval &t) {
        return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_usec * 1000;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

constexpr int settleMs = 1000;

} // namespace

FrameWatcher::FrameWatcher(QObject *parent)
    : QObject(parent)
    , createdNs(monotonicNs())
    , outputPath(qEnvironmentVariable("TOVIK_BENCH_OUT"))
{
    launchNs = qEnvironmentVariable("TOVIK_BENCH_T0_NS").toLongLong();
    QCoreApplication::instance()->installEventFilter(this);
}

bool FrameWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (!watching && (event->type() == QEvent::Show || event->type() == QEvent::Expose)) {
        if (auto *window = qobject_cast<QQuickWindow *>(watched))
            watch(window);
    }
    return QObject::eventFilter(watched, event);
}

void FrameWatcher::watch(QQuickWindow *window)
{
    watching = true;
    // frameSwapped comes from the render thread with the threaded render loop.
    connect(window, &QQuickWindow::frameSwapped, this, &FrameWatcher::onFrameSwapped,
            Qt::DirectConnection);
}

void FrameWatcher::onFrameSwapped()
{
    std::int64_t expected = 0;
    if (!firstFrameNs.compare_exchange_strong(expected, monotonicNs()))
        return;
    firstFrameCpuNs = cpuNs();
    QMetaObject::invokeMethod(
        this, [this] { QTimer::singleShot(settleMs, this, &FrameWatcher::finish); },
        Qt::QueuedConnection);
}

void FrameWatcher::finish()
{
    const double toApp = (createdNs - launchNs) / 1e6;
    const double toFrame = (firstFrameNs.load() - launchNs) / 1e6;
    const QByteArray line = QByteArray("app_ms=") + QByteArray::number(toApp, 'f', 2) +
                            " first_frame_ms=" + QByteArray::number(toFrame, 'f', 2) +
                            " cpu_ms=" + QByteArray::number(firstFrameCpuNs / 1e6, 'f', 2) +
                            " hwm_kb=" + QByteArray::number(peakRssKb()) + '\n';
    QFile out(outputPath);
    if (!outputPath.isEmpty() && out.open(QIODevice::Append))
        out.write(line);
    QCoreApplication::quit();
}
