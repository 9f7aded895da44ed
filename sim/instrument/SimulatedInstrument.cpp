#include "sim/instrument/SimulatedInstrument.h"

#include "midi/MidiHandler.h"
#include "midi/SysExMessage.h"
#include "sim/instrument/SimulatedMidiBackend.h"

#include <QFile>
#include <QMetaObject>
#include <QTimer>

namespace {
const QString transferVolume = QStringLiteral("TOVIK");
const QString updateVolume = QStringLiteral("tovikupd");
// The host gives up on a switch when the first detection pass finds nothing.
constexpr int detectionBudgetMs =
    MidiLink::detectionStartDelayMs + (MidiLink::detectTickLimit + 1) * MidiLink::detectIntervalMs;
// MIDI clock at 120 beats a minute (24 a beat); active sensing at least every 300 ms.
constexpr int clockIntervalMs = 20;
constexpr int clocksPerSensing = 15;
constexpr unsigned char timingClock = 0xF8;
constexpr unsigned char activeSensing = 0xFE;
const QByteArray updateFileMagic = QByteArrayLiteral("TVQ-SIM version=");
// The name the host gives the update file on the update volume.
const QString copiedUpdateFile = QStringLiteral("/tvxxfer.tvq");
constexpr qint64 updateHeaderLimit = 4096;
} // namespace

SimulatedInstrument::SimulatedInstrument(QObject *parent)
    : QObject(parent)
    , midiBus(std::make_shared<SimulatedMidiBus>())
{
    // Sends arrive on whatever thread the host uses; the firmware reacts on ours.
    midiBus->setInstrumentSink([this](std::vector<unsigned char> message) {
        QMetaObject::invokeMethod(
            this, [this, message] { handle(message); }, Qt::QueuedConnection);
    });
}

SimulatedInstrument::~SimulatedInstrument()
{
    midiBus->setInstrumentSink(nullptr);
    midiBus->setInstrumentPorts(false, false);
}

std::shared_ptr<MidiBackend> SimulatedInstrument::backend() const
{
    return std::make_shared<SimulatedMidiBackend>(midiBus);
}

UsbIdLookup SimulatedInstrument::usbIdLookup() const
{
    std::shared_ptr<SimulatedMidiBus> shared = midiBus;
    return [shared](const QString &portName, QString &vendorId, QString &productId) {
        return shared->usbIdsForPort(portName, vendorId, productId);
    };
}

void SimulatedInstrument::setFaults(Faults faults)
{
    activeFaults = faults;
    midiBus->setOpenFailures(faults.testFlag(FailOpenInputPort),
                             faults.testFlag(FailOpenOutputPort));
    midiBus->setBlockingVanishedSends(faults.testFlag(BlockSendToVanishedPort));
    if (!clockTimer) {
        clockTimer = new QTimer(this);
        clockTimer->setTimerType(Qt::PreciseTimer);
        connect(clockTimer, &QTimer::timeout, this, &SimulatedInstrument::sendRealTimeByte);
    }
    if (faults.testFlag(SendActiveSensingAndClock))
        clockTimer->start(clockIntervalMs);
    else
        clockTimer->stop();
}

void SimulatedInstrument::sendRealTimeByte()
{
    // Dropped by the bus while the instrument is off it.
    midiBus->instrumentSend({timingClock});
    if (++clockTicks % clocksPerSensing == 0)
        midiBus->instrumentSend({activeSensing});
}

void SimulatedInstrument::plugIn()
{
    ++generation;
    awaitingUpdateFinish = false;
    if (activeFaults.testFlag(ReturnWithNewPortIdentity))
        midiBus->renewInstrumentIdentity();
    midiBus->setInstrumentPorts(true, true);
    setMode(Mode::Midi);
}

void SimulatedInstrument::plugInInUpdateMode()
{
    ++generation;
    awaitingUpdateFinish = false;
    midiBus->setInstrumentPorts(false, false);
    setMode(Mode::Update);
    emit volumePresented(updateVolume);
}

void SimulatedInstrument::unplug()
{
    ++generation;
    const Mode was = currentMode;
    midiBus->setInstrumentPorts(false, false);
    setMode(Mode::Absent);
    if (was == Mode::Transfer)
        emit volumeWithdrawn(transferVolume);
    else if (was == Mode::Update)
        emit volumeWithdrawn(updateVolume);
}

QByteArray SimulatedInstrument::bytes(const std::vector<unsigned char> &message)
{
    return QByteArray(reinterpret_cast<const char *>(message.data()),
                      static_cast<qsizetype>(message.size()));
}

void SimulatedInstrument::setMode(Mode mode)
{
    if (mode == currentMode)
        return;
    currentMode = mode;
    emit modeChanged(mode);
}

void SimulatedInstrument::reply(const std::vector<unsigned char> &message)
{
    const int at = generation;
    QTimer::singleShot(replyDelayMs, this, [this, message, at] {
        if (at == generation)
            midiBus->instrumentSend(message);
    });
}

void SimulatedInstrument::leaveBus()
{
    midiBus->setInstrumentPorts(false, false);
    setMode(Mode::Absent);
}

void SimulatedInstrument::returnAs(Mode mode, int afterMs)
{
    const int at = generation;
    if (mode != Mode::Update && activeFaults.testFlag(ReturnAfterDetectionBudget))
        afterMs += detectionBudgetMs;
    QTimer::singleShot(afterMs, this, [this, mode, at] {
        if (at != generation || neverComesBack)
            return;
        if (mode == Mode::Update) {
            setMode(Mode::Update);
            emit volumePresented(updateVolume);
            return;
        }
        const bool input = returningPorts != SimulatedMidiBus::ReturningPorts::OutputOnly;
        const bool output = returningPorts != SimulatedMidiBus::ReturningPorts::InputOnly;
        if (activeFaults.testFlag(ReturnWithNewPortIdentity))
            midiBus->renewInstrumentIdentity();
        if (activeFaults.testFlag(ReturnPortsOnDifferentTicks) && output) {
            midiBus->setInstrumentPorts(input, false);
            QTimer::singleShot(3 * MidiLink::detectIntervalMs, this, [this, input, at] {
                if (at == generation)
                    midiBus->setInstrumentPorts(input, true);
            });
        } else {
            midiBus->setInstrumentPorts(input, output);
        }
        setMode(mode);
        if (mode == Mode::Transfer)
            emit volumePresented(transferVolume);
    });
}

void SimulatedInstrument::handle(const std::vector<unsigned char> &message)
{
    emit messageHandled(bytes(message));
    if (currentMode != Mode::Midi && currentMode != Mode::Transfer)
        return;

    if (message == MIDI_SYSEX_VERSION_REQUEST) {
        reply(makeVersionReply(firmwareVersion.toStdString()));
    } else if (message == MIDI_SYSEX_TRANSFER_START) {
        if (currentMode == Mode::Midi) {
            leaveBus();
            returnAs(Mode::Transfer, reenumerationDelayMs);
        } else if (confirms) {
            reply(MIDI_SYSEX_TRANSFER_START);
        }
    } else if (message == MIDI_SYSEX_TRANSFER_END) {
        if (confirms)
            reply(MIDI_SYSEX_TRANSFER_END);
        if (currentMode == Mode::Transfer) {
            // Told to stop without the volume being dismounted first: leave transfer mode anyway.
            emit volumeWithdrawn(transferVolume);
            const int at = generation;
            QTimer::singleShot(replyDelayMs + 1, this, [this, at] {
                if (at != generation)
                    return;
                leaveBus();
                returnAs(Mode::Midi, reenumerationDelayMs);
            });
        }
    } else if (message == MIDI_SYSEX_UPDATE_MODE) {
        if (currentMode == Mode::Midi) {
            leaveBus();
            returnAs(Mode::Update, reenumerationDelayMs);
        }
    } else if (message == MIDI_SYSEX_UPDATE_FINISH) {
        if (currentMode == Mode::Midi && awaitingUpdateFinish) {
            awaitingUpdateFinish = false;
            const int at = generation;
            QTimer::singleShot(applyDelayMs, this, [this, at] {
                if (at != generation)
                    return;
                if (!updateVersion.isEmpty() && !activeFaults.testFlag(KeepsOldFirmware))
                    firmwareVersion = updateVersion;
                leaveBus();
                returnAs(Mode::Midi, applyDurationMs);
            });
        }
    }
}

void SimulatedInstrument::onVolumeDismounted(QString label)
{
    if (currentMode == Mode::Update && label == updateVolume) {
        setMode(Mode::Absent);
        if (!updateFolder.isEmpty())
            updateVersion = versionOfUpdateFile(updateFolder + copiedUpdateFile);
        awaitingUpdateFinish = true;
        returnAs(Mode::Midi, rebootDelayMs);
    } else if (currentMode == Mode::Transfer && label == transferVolume) {
        leaveBus();
        returnAs(Mode::Midi, reenumerationDelayMs);
    }
}

QByteArray SimulatedInstrument::updateFileHeader(const QString &version)
{
    return updateFileMagic + version.toUtf8() + '\n';
}

QString SimulatedInstrument::versionOfUpdateFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray head = file.read(updateHeaderLimit);
    const qsizetype end = head.indexOf('\n');
    if (!head.startsWith(updateFileMagic) || end < 0)
        return QString();
    return QString::fromUtf8(head.mid(updateFileMagic.size(), end - updateFileMagic.size()));
}

#include "moc_SimulatedInstrument.cpp"
