#include "release/MinimumSpeedWatch.h"

#include "release/Downloader.h"

#include <QDebug>
#include <QNetworkReply>

namespace {
constexpr int checkIntervalMs = 1000;
}

void MinimumSpeedWatch::watch(QNetworkReply *reply, const QString &what)
{
    new MinimumSpeedWatch(reply, what);
}

MinimumSpeedWatch::MinimumSpeedWatch(QNetworkReply *watched, const QString &name)
    : QObject(watched)
    , reply(watched)
    , what(name)
{
    connect(reply, &QNetworkReply::downloadProgress, this, &MinimumSpeedWatch::onDownloadProgress);
    connect(reply, &QNetworkReply::finished, &timer, &QTimer::stop);
    connect(&timer, &QTimer::timeout, this, &MinimumSpeedWatch::check);
    clock.start();
    timer.start(checkIntervalMs);
}

void MinimumSpeedWatch::onDownloadProgress(qint64 bytes, qint64)
{
    received = bytes;
}

void MinimumSpeedWatch::check()
{
    const qint64 now = clock.elapsed();
    samples.append({now, received});
    while (samples.size() > 1 && now - samples.at(1).first >= transferInactivityLimitMs)
        samples.removeFirst();
    const QPair<qint64, qint64> &oldest = samples.constFirst();
    const qint64 minimum = qint64(minimumBytesPerSecond) * transferInactivityLimitMs / 1000;
    if (now - oldest.first < transferInactivityLimitMs || received - oldest.second >= minimum)
        return;
    timer.stop();
    qWarning().noquote() << "DW:" << what << "slower than" << minimumBytesPerSecond
                         << "byte a second for" << transferInactivityLimitMs / 1000
                         << "s; giving up";
    reply->abort();
}
