#include "app/Updater.h"
#include "sim/world/SimulatedWorld.h"
#include "storage/FileManager.h"

#include <QMetaEnum>
#include <QTimer>

namespace {

// A cable wiggle: off the bus for this long, then back in MIDI mode.
constexpr int wiggleOffMs = 1500;

int environmentMs(const char *name)
{
    return qEnvironmentVariableIntValue(name);
}

// Makes the simulated world as unkind as the environment asks (README, "The demo").
void provoke(SimulatedWorld &world, UpdaterParts &parts)
{
    SimulatedInstrument &tovik = world.instrument();
    const QByteArray faults = qgetenv("TOVIK_DEMO_FAULTS");
    if (!faults.isEmpty()) {
        bool known = false;
        const int value = QMetaEnum::fromType<SimulatedInstrument::Faults>().keysToValue(
            faults.constData(), &known);
        if (!known)
            qFatal("TOVIK_DEMO_FAULTS names an unknown fault: %s", faults.constData());
        tovik.setFaults(SimulatedInstrument::Faults(value));
    }
    if (const int ms = environmentMs("TOVIK_DEMO_REPLY_MS"))
        tovik.setReplyDelay(ms);
    if (const int ms = environmentMs("TOVIK_DEMO_RETURN_MS"))
        tovik.setReenumerationDelay(ms);
    if (const int ms = environmentMs("TOVIK_DEMO_WIGGLE_MS")) {
        auto *wiggle = new QTimer(&tovik);
        QObject::connect(wiggle, &QTimer::timeout, &tovik, [&tovik] {
            if (tovik.mode() == SimulatedInstrument::Mode::Absent)
                return;
            tovik.unplug();
            QTimer::singleShot(wiggleOffMs, &tovik, [&tovik] { tovik.plugIn(); });
        });
        wiggle->start(ms);
    }
    // As if the cable glitched during the first copies of the update.
    if (const int refusals = qEnvironmentVariableIntValue("TOVIK_DEMO_WRITE_REFUSALS"))
        world.volumes().refuseNextWrites(QStringLiteral("tovikupd"), refusals);
    // As if the user ejected the transfer volume in the file manager this long after it came.
    if (const int ms = environmentMs("TOVIK_DEMO_REMOVED_MS")) {
        SimulatedVolumes *volumes = &world.volumes();
        QObject::connect(
            volumes, &SimulatedVolumes::volumeAdded, volumes, [volumes, ms](const QString &label) {
                if (label != QLatin1String("TOVIK"))
                    return;
                QTimer::singleShot(ms, volumes, [volumes, label] { volumes->removeVolume(label); });
            });
    }
    // As if a file stayed open on the transfer volume for the first ejects.
    if (const int refusals = qEnvironmentVariableIntValue("TOVIK_DEMO_EJECT_REFUSALS")) {
        world.volumes().setDismountError(QStringLiteral("TOVIK"),
                                         QStringLiteral("a file on the volume is still open"));
        parts.makeFileManager = [made = parts.makeFileManager, volumes = &world.volumes(),
                                 left = std::make_shared<int>(refusals)] {
            FileManager *fileManager = made();
            QObject::connect(fileManager, &FileManager::ejectCompleted, volumes,
                             [volumes, left](bool ejected) {
                                 if (!ejected && --*left == 0)
                                     volumes->setDismountError(QStringLiteral("TOVIK"), QString());
                             });
            return fileManager;
        };
    }
}

} // namespace

// The real window and objects against the simulated instrument, volumes and release server.
int main(int argc, char *argv[])
{
    return runUpdaterMain(argc, argv, [] {
        SimulatedWorld::Options options;
        if (const int ms = environmentMs("TOVIK_DEMO_CHUNK_MS"))
            options.downloadChunkIntervalMs = ms;
        // As if the last update was interrupted: the instrument waits in update mode.
        options.leftInUpdateMode = qEnvironmentVariableIntValue("TOVIK_DEMO_UPDATE_MODE") != 0;
        // The firmware the instrument runs: the newest release (1.6.0), a newer one, or none.
        if (qEnvironmentVariableIsSet("TOVIK_DEMO_FIRMWARE"))
            options.firmwareVersion = qEnvironmentVariable("TOVIK_DEMO_FIRMWARE");
        auto world = std::make_shared<SimulatedWorld>(options);
        if (!world->isValid())
            qFatal("The demo cannot start: %s", qPrintable(world->errorString()));
        UpdaterParts parts = updaterPartsFrom(*world);
        provoke(*world, parts);
        parts.keepAlive = world;
        return parts;
    });
}
