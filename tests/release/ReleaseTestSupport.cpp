#include "ReleaseTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

QByteArray firmwareBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = char(random.generate());
    return bytes;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString emptiedPrivateTempDir()
{
    const QString path = QDir::tempPath();
    if (!qEnvironmentVariableIsSet("TMPDIR") || !path.contains(QLatin1String("/tmp/tst_")) ||
        !QDir(path).removeRecursively() || !QDir().mkpath(path))
        return QString();
    return path;
}

bool makeDownloadFolder(const Downloader &downloader)
{
    return QDir().mkdir(downloader.downloadDirectory,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner) ||
           QFileInfo(downloader.downloadDirectory).isDir();
}

bool fetchCatalogue(Downloader &downloader, int timeoutMs)
{
    QSignalSpy done(&downloader.networkManager, &QNetworkAccessManager::finished);
    downloader.fetchReleasesJson();
    return done.wait(timeoutMs);
}

bool eventsMatch(const QStringList &events, const QStringList &expected)
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

OutcomeRecorder::OutcomeRecorder(Downloader *downloader)
{
    connect(downloader, &Downloader::downloadStatus, this, [this](bool ok, const QString &text) {
        events.append(QStringLiteral("status %1 %2").arg(ok).arg(text));
    });
    connect(downloader, &Downloader::downloadFinished, this,
            [this](bool ok, const QString &path, const QString &name) {
                events.append(QStringLiteral("finished %1 %2 %3").arg(ok).arg(path, name));
            });
    connect(downloader, &Downloader::setDeviceToTransferMode, this,
            [this](bool ok) { events.append(QStringLiteral("transfer %1").arg(ok)); });
    connect(downloader, &Downloader::downloadingProgressBar, this,
            [this](qint64 value) { progress.append(value); });
}

bool OutcomeRecorder::waitForTransferSignals(int count, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            return events.filter(QRegularExpression(QStringLiteral("^transfer "))).size() >= count;
        },
        timeoutMs);
}

OneRelease::OneRelease(const QByteArray &bytes, const QString &name, ReleaseServer::Mode mode,
                       const QString &totalFileSize)
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

bool OneRelease::download(int transferSignals)
{
    if (!fetchCatalogue(downloader))
        return false;
    downloader.downloadFile();
    return recorder.waitForTransferSignals(transferSignals);
}
