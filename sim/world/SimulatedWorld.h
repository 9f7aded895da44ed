#pragma once

#include "midi/MidiHandler.h"
#include "release/Downloader.h"
#include "sim/instrument/SimulatedInstrument.h"
#include "sim/server/ReleaseServer.h"
#include "sim/volumes/SimulatedVolumes.h"
#include "storage/FileManager.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// Everything the program meets outside itself, simulated where this machine has no real one:
// the instrument, its two volumes (folders in a temporary directory) and the maker's release
// server (a real HTTP server on loopback). The demo and the end-to-end tests plug its parts
// into the same start-up sequence as the real program.
class SimulatedWorld : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString firmwareVersion = QStringLiteral("1.5.2");
        QString latestVersion = QStringLiteral("1.6.0");
        qint64 updateFileSize = 4 * 1024 * 1024;
        // Sent in pieces, so a person can watch the download's progress.
        int downloadChunkBytes = 256 * 1024;
        int downloadChunkIntervalMs = 60;
        // How long after start-up the instrument is plugged in; negative: never.
        int plugInAfterMs = 1500;
        // Plugged in still in update mode, its volume holding part of the update file, as an
        // update interrupted during its copy leaves it.
        bool leftInUpdateMode = false;
    };

    explicit SimulatedWorld(QObject *parent = nullptr);
    explicit SimulatedWorld(const Options &options, QObject *parent = nullptr);
    ~SimulatedWorld() override;

    bool isValid() const;
    QString errorString() const { return error; }

    // The objects the program makes of the world (updaterPartsFrom in app/UpdaterParts.h): a
    // MidiHandler on the simulated backend and USB lookup, a FileManager on the simulated volumes
    // and their dismount, a Downloader pointed at the loopback server.
    std::unique_ptr<MidiHandler> makeMidiHandler();
    std::unique_ptr<Downloader> makeDownloader();
    FileManager *makeFileManager();

    SimulatedInstrument &instrument() { return tovik; }
    SimulatedVolumes &volumes() { return storage; }
    ReleaseServer &server() { return releases; }

    QString updateFileName() const;
    QByteArray updateFileBytes() const { return updateBytes; }
    // The folder that plays the volume of this label.
    QString volumeFolder(const QString &label) const;

    static QByteArray catalogueFor(const QStringList &versions, const QString &newestFileName,
                                   qint64 newestSize);

private:
    void build();

    Options options;
    QTemporaryDir root;
    SimulatedInstrument tovik;
    SimulatedVolumes storage;
    ReleaseServer releases;
    QByteArray updateBytes;
    QString error;
};
