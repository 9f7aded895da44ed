#include "sim/instrument/SimulatedInstrument.h"

#include "midi/SysExMessage.h"
#include "sim/instrument/SimMidiBackend.h"

#include <QMetaObject>
#include <QTimer>

namespace {
const QString transferVolume = QStringLiteral("TOVIK");
const QString updateVolume = QStringLiteral("tovikupd");
} // namespace

SimulatedInstrument::SimulatedInstrument(QObject *parent)
    : QObject(parent)
    , midiBus(std::make_shared<SimMidiBus>())
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
    return std::make_shared<SimMidiBackend>(midiBus);
}

UsbIdLookup SimulatedInstrument::usbIdLookup() const
{
    std::shared_ptr<SimMidiBus> shared = midiBus;
    return [shared](const QString &portName, QString &vendorId, QString &productId) {
        return shared->usbIdsForPort(portName, vendorId, productId);
    };
}

void SimulatedInstrument::plugIn()
{
    ++generation;
    awaitingUpdateFinish = false;
    midiBus->setInstrumentPorts(true, true);
    setMode(Mode::Midi);
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

QList<SimulatedInstrument::Received> SimulatedInstrument::received() const
{
    QList<Received> list;
    for (const SimMidiBus::Event &event : midiBus->events()) {
        if (event.kind == SimMidiBus::EventKind::Received)
            list.append({bytes(event.bytes), event.atMs});
    }
    return list;
}

int SimulatedInstrument::receivedCount(const QByteArray &message) const
{
    int count = 0;
    for (const Received &entry : received()) {
        if (entry.bytes == message)
            ++count;
    }
    return count;
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
    QTimer::singleShot(afterMs, this, [this, mode, at] {
        if (at != generation || neverComesBack)
            return;
        if (mode == Mode::Update) {
            setMode(Mode::Update);
            emit volumePresented(updateVolume);
            return;
        }
        const bool input = returningPorts != SimMidiBus::ReturningPorts::OutputOnly;
        const bool output = returningPorts != SimMidiBus::ReturningPorts::InputOnly;
        midiBus->setInstrumentPorts(input, output);
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
        awaitingUpdateFinish = true;
        returnAs(Mode::Midi, rebootDelayMs);
    } else if (currentMode == Mode::Transfer && label == transferVolume) {
        leaveBus();
        returnAs(Mode::Midi, reenumerationDelayMs);
    }
}

#include "moc_SimulatedInstrument.cpp"
