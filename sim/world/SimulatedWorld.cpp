#include "sim/world/SimulatedWorld.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimer>

namespace {
const QString updateLabel = QStringLiteral("tovikupd");
const QString transferLabel = QStringLiteral("TOVIK");

// The folders the instrument keeps on its storage, each with something to look at.
const struct
{
    const char *folder;
    const char *file;
    const char *contents;
} transferContents[] = {
    {"projects", "Night Drive.tvp", "tempo=92\nscenes=4\n"},
    {"instrument_definitions", "Analog Bass.tvi", "channel=2\nprogram=33\n"},
    {"MIDI_Clips", "Arp 01.mid", "MThd"},
    {"grooves", "Swing 57.tvg", "swing=57\n"},
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
} // namespace

SimulatedWorld::SimulatedWorld(QObject *parent)
    : SimulatedWorld(Options(), parent)
{
}

SimulatedWorld::SimulatedWorld(const Options &worldOptions, QObject *parent)
    : QObject(parent)
    , options(worldOptions)
{
    build();
}

SimulatedWorld::~SimulatedWorld()
{
    // The instrument's volumes vanish with the world; nothing may reach it afterwards.
    disconnect(&storage, nullptr, &tovik, nullptr);
}

bool SimulatedWorld::isValid() const
{
    return error.isEmpty();
}

QString SimulatedWorld::updateFileName() const
{
    return QStringLiteral("tovik-%1.tvq").arg(options.latestVersion);
}

QString SimulatedWorld::volumeFolder(const QString &label) const
{
    return root.filePath(label);
}

QByteArray SimulatedWorld::catalogueFor(const QStringList &versions, const QString &newestFileName,
                                        qint64 newestSize)
{
    // Oldest first: the release service lists the newest release last.
    QJsonArray releasesArray;
    for (qsizetype i = 0; i < versions.size(); ++i) {
        const bool newest = i == versions.size() - 1;
        const QString name =
            newest ? newestFileName : QStringLiteral("tovik-%1.tvq").arg(versions.at(i));
        QJsonObject release;
        release.insert(QStringLiteral("file_name"), name);
        release.insert(QStringLiteral("version"), versions.at(i));
        release.insert(QStringLiteral("total_file_size"),
                       QString::number(newest ? newestSize : 3 * 1024 * 1024));
        release.insert(QStringLiteral("release_date"),
                       QStringLiteral("2026-%1-01").arg(i + 3, 2, 10, QLatin1Char('0')));
        release.insert(QStringLiteral("code_name"), QStringLiteral("Demo %1").arg(i + 1));
        release.insert(
            QStringLiteral("uuid"),
            QStringLiteral("00000000-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0')));
        releasesArray.append(release);
    }
    return QJsonDocument(releasesArray).toJson(QJsonDocument::Compact);
}

void SimulatedWorld::build()
{
    if (!root.isValid()) {
        error = QStringLiteral("no temporary folder: %1").arg(root.errorString());
        return;
    }
    if (!releases.isListening()) {
        error = QStringLiteral("the release server could not listen on loopback");
        return;
    }

    // The update file: a fixed pseudo-random pattern, so a copy can be checked byte for byte.
    updateBytes.resize(options.updateFileSize);
    QRandomGenerator pattern(0x70f1c);
    for (qsizetype i = 0; i + 4 <= updateBytes.size(); i += 4) {
        const quint32 word = pattern.generate();
        memcpy(updateBytes.data() + i, &word, 4);
    }
    for (qsizetype i = updateBytes.size() & ~qsizetype(3); i < updateBytes.size(); ++i)
        updateBytes[i] = char(pattern.generate());
    // It begins with its version, which the simulated instrument applies.
    const QByteArray header = SimulatedInstrument::updateFileHeader(options.latestVersion);
    if (header.size() <= updateBytes.size())
        updateBytes.replace(0, header.size(), header);

    releases.setCatalogue(
        catalogueFor({QStringLiteral("1.4.0"), QStringLiteral("1.5.0"), options.latestVersion},
                     updateFileName(), updateBytes.size()));
    releases.addFile(updateFileName(), updateBytes);
    ServeRule trickle;
    trickle.body = ServeRule::Body::Trickle;
    trickle.trickleBytes = options.downloadChunkBytes;
    trickle.trickleIntervalMs = options.downloadChunkIntervalMs;
    releases.setRule(updateFileName(), trickle);

    for (const QString &label : {updateLabel, transferLabel}) {
        if (!QDir().mkpath(volumeFolder(label))) {
            error = QStringLiteral("cannot create %1").arg(volumeFolder(label));
            return;
        }
        storage.setVolumeFolder(label, volumeFolder(label));
    }
    for (const auto &entry : transferContents) {
        const QString folder =
            volumeFolder(transferLabel) + QLatin1Char('/') + QString::fromUtf8(entry.folder);
        if (!QDir().mkpath(folder) ||
            !writeFile(folder + QLatin1Char('/') + QString::fromUtf8(entry.file),
                       QByteArray(entry.contents))) {
            error = QStringLiteral("cannot fill %1").arg(folder);
            return;
        }
    }

    tovik.setVersion(options.firmwareVersion);
    tovik.setUpdateVolumeFolder(volumeFolder(updateLabel));
    connect(&tovik, &SimulatedInstrument::volumePresented, &storage, &SimulatedVolumes::present);
    connect(&tovik, &SimulatedInstrument::volumeWithdrawn, &storage, &SimulatedVolumes::withdraw);
    // The host dismounts on its worker thread; the instrument reacts on its own.
    connect(&storage, &SimulatedVolumes::volumeDismounted, &tovik,
            &SimulatedInstrument::onVolumeDismounted, Qt::QueuedConnection);

    if (options.leftInUpdateMode &&
        !writeFile(volumeFolder(updateLabel) + QLatin1Char('/') + updateFileName(),
                   updateBytes.left(updateBytes.size() / 2))) {
        error = QStringLiteral("cannot leave a partial update on %1").arg(updateLabel);
        return;
    }
    if (options.plugInAfterMs >= 0)
        QTimer::singleShot(options.plugInAfterMs, &tovik, [this] {
            if (options.leftInUpdateMode)
                tovik.plugInInUpdateMode();
            else
                tovik.plugIn();
        });
}

std::unique_ptr<MidiHandler> SimulatedWorld::makeMidiHandler()
{
    return std::make_unique<MidiHandler>(tovik.backend(), tovik.usbIdLookup(), nullptr);
}

std::unique_ptr<Downloader> SimulatedWorld::makeDownloader()
{
    return std::make_unique<Downloader>(releases.baseUrl());
}

FileManager *SimulatedWorld::makeFileManager()
{
    return new FileManager(&storage, &storage);
}
