#include "midi/MidiHandler.h"

#include "diagnostics/Logging.h"
#include "midi/GuardedCall.h"
#include "midi/RtMidiBackend.h"

#include <QDebug>
#include <QTimer>

#include <utility>

namespace {

const std::string inputClientName = "RtMidi Input Client";
const std::string outputClientName = "RtMidi Output Client";
const std::string inputPortName = "RtMidi Input";
const std::string outputPortName = "RtMidi Output";

template<class Port>
int scanForInstrument(const std::unique_ptr<Port> &port, const UsbIdLookup &usbIds)
{
    unsigned int count = 0;
    if (!port || !guardedCall([&] { count = port->getPortCount(); }))
        return -1;
    for (unsigned int i = 0; i < count; ++i) {
        bool matches = false;
        // One unreadable port must not hide the others.
        guardedCall([&] {
            const QString name = QString::fromStdString(port->getPortName(i));
            QString vendorId;
            QString productId;
            const bool found = usbIds && usbIds(name, vendorId, productId);
            matches = matchesInstrumentIds(found, vendorId, productId);
        });
        if (matches)
            return static_cast<int>(i);
    }
    return -1;
}

template<class Port> void appendPortNames(Port &port, QString &signature)
{
    const unsigned int count = port.getPortCount();
    for (unsigned int i = 0; i < count; ++i) {
        signature += QString::fromStdString(port.getPortName(i));
        signature += QLatin1Char('|');
    }
}

} // namespace

MidiHandler::MidiHandler(QObject *parent)
    : MidiHandler(std::make_shared<RtMidiBackend>(), &findUsbIdsForPort, parent)
{
}

MidiHandler::MidiHandler(std::shared_ptr<MidiBackend> midiBackend, UsbIdLookup usbIdLookup,
                         QObject *parent)
    : QObject(parent)
    , backend(std::move(midiBackend))
    , usbIds(std::move(usbIdLookup))
{
    pollTimer = new QTimer(this);
    // The intervals are part of the protocol with the instrument; coarse timers may fire 5% early.
    pollTimer->setTimerType(Qt::PreciseTimer);
    if (const std::optional<RtMidiError> error = createMidiObjects()) {
        error->printMessage();
        // Without this line the log would never say why the instrument is not found.
        qWarning().noquote() << "MH: MIDI service unavailable, the instrument will not be found:"
                             << QString::fromStdString(error->getMessage());
        return;
    }
    connect(pollTimer, &QTimer::timeout, this, &MidiHandler::checkForTovikHost);
    pollTimer->start(MidiLink::pollIntervalMs);
}

MidiHandler::~MidiHandler()
{
    // The input thread must be gone before the members it signals through are.
    midiIn.reset();
    midiOut.reset();
}

std::optional<RtMidiError> MidiHandler::createMidiObjects()
{
    bool created = false;
    std::optional<RtMidiError> failure;
    try {
        if (!midiIn) {
            midiIn = backend->createInput(inputClientName, MidiLink::inputQueueSizeLimit);
            created = true;
            midiIn->ignoreTypes(false, false, false);
        }
        if (!midiOut) {
            midiOut = backend->createOutput(outputClientName);
            created = true;
        }
    } catch (const RtMidiError &error) {
        failure = error;
    }
    // Registered even when the other side failed, so a half-built pair still reports errors.
    if (created) {
        guardedCall<AnyException>([this] {
            if (midiIn)
                midiIn->setErrorCallback(&MidiHandler::onRtMidiError, this);
        });
        guardedCall<AnyException>([this] {
            if (midiOut)
                midiOut->setErrorCallback(&MidiHandler::onRtMidiError, this);
        });
    }
    return failure;
}

QString MidiHandler::portListSignature()
{
    QString signature;
    if (!guardedCall<AnyException>([&] {
            appendPortNames(*midiIn, signature);
            signature += QLatin1Char('/');
            appendPortNames(*midiOut, signature);
        }))
        signature = QStringLiteral("<enumeration error>");
    return signature;
}

std::pair<int, int> MidiHandler::findInstrumentPorts()
{
    const int inputIndex = scanForInstrument(midiIn, usbIds);
    return {inputIndex, scanForInstrument(midiOut, usbIds)};
}

bool MidiHandler::checkForTovikHost()
{
    createMidiObjects();
    if (!midiIn || !midiOut)
        return false;

    const QString signature = portListSignature();
    if (signature != lastPortList) {
        lastPortList = signature;
        logTrace(QStringLiteral("MIDI port list changed: %1").arg(signature));
    }

    const auto [inputIndex, outputIndex] = findInstrumentPorts();
    if (inputIndex >= 0 && outputIndex >= 0) {
        if (connected)
            return true;
        if (!guardedCall(
                [this, in = inputIndex, out = outputIndex] { openInstrumentPorts(in, out); }))
            return true;
        // Told to finish its update, the instrument reboots to apply it: the version it gives
        // before that is the old one, so it is asked once it is back.
        const bool rebootsOnOwed = owedSysEx == MIDI_SYSEX_UPDATE_FINISH;
        if (!owedSysEx.empty())
            QTimer::singleShot(MidiLink::versionRequestDelayMs, Qt::PreciseTimer, this,
                               &MidiHandler::sendOwedSysEx);
        if (!reenumerating && !rebootsOnOwed)
            QTimer::singleShot(MidiLink::versionRequestDelayMs, Qt::PreciseTimer, this,
                               &MidiHandler::requestFirmwareVersion);
        connected = true;
        emit deviceFound(true);
        return true;
    }

    if (connected) {
        guardedCall<AnyException>([this] { closeInstrumentPorts(); });
        reenumerating = false;
        connected = false;
        emit deviceFound(false);
    }
    return false;
}

void MidiHandler::openInstrumentPorts(int inputIndex, int outputIndex)
{
    if (!midiIn || !midiOut)
        throw RtMidiError("MH: no MIDI objects to open", RtMidiError::INVALID_USE);
    midiErrorRaised.store(false);
    midiIn->openPort(static_cast<unsigned int>(inputIndex), inputPortName);
    midiIn->setCallback(&MidiHandler::onMidiMessage, this);
    midiIn->ignoreTypes(false, false, false);
    midiOut->openPort(static_cast<unsigned int>(outputIndex), outputPortName);
    // With the error callback set, a port the driver refuses is reported only there: the
    // instrument is not connected, and the next check or tick tries again.
    if (midiErrorRaised.exchange(false)) {
        guardedCall([this] { closeInstrumentPorts(); });
        throw RtMidiError("MH: the instrument's ports did not open", RtMidiError::DRIVER_ERROR);
    }
}

void MidiHandler::closeInstrumentPorts()
{
    if (midiIn) {
        midiIn->cancelCallback();
        midiIn->closePort();
    }
    if (midiOut)
        midiOut->closePort();
}

void MidiHandler::requestFirmwareVersion()
{
    sendSysEx(MIDI_SYSEX_VERSION_REQUEST);
}

void MidiHandler::sendSysEx(const SysExMessage &message)
{
    if (!midiOut) {
        // A failed re-creation left no output; the next check builds one.
        qWarning("MH: No MIDI output; SysEx message not sent");
        return;
    }
    if (trySend(message))
        return;
    reconnectMidiPorts();
    trySend(message);
}

bool MidiHandler::trySend(const SysExMessage &message)
{
    midiErrorRaised.store(false);
    const bool sent =
        midiOut && guardedCall([&] { midiOut->sendMessage(message.data(), message.size()); });
    return !midiErrorRaised.exchange(false) && sent;
}

void MidiHandler::reconnectMidiPorts()
{
    const bool wasConnected = connected;
    guardedCall([this] { closeInstrumentPorts(); });
    reenumerating = true;
    connected = false;
    checkForTovikHost();
    // The check reports a loss only from connected, cleared above; an instrument that has gone
    // is a loss, and its return a new connection that asks the version again.
    if (wasConnected && !connected) {
        reenumerating = false;
        emit deviceFound(false);
    }
}

void MidiHandler::onMidiMessage(double timeStamp, std::vector<unsigned char> *message,
                                void *userData)
{
    Q_UNUSED(timeStamp);
    auto *handler = static_cast<MidiHandler *>(userData);
    if (handler == nullptr || message == nullptr)
        return;
    const SysExClassification result = classifySysEx(*message);
    switch (result.kind) {
    case SysExKind::VersionReply:
        emit handler->tovikReceivedVersion(QString::fromLatin1(
            result.version.data(), static_cast<qsizetype>(result.version.size())));
        break;
    case SysExKind::TransferStartAck:
        handler->noteAck(result.kind);
        emit handler->transferSysExReceived();
        break;
    case SysExKind::TransferEndAck:
        handler->noteAck(result.kind);
        emit handler->transferSysExEndReceived();
        break;
    case SysExKind::Unrecognised:
        break;
    }
}

void MidiHandler::onRtMidiError(RtMidiError::Type type, const std::string &errorText,
                                void *userData)
{
    qWarning().noquote() << "MH: RtMidi error (type" << static_cast<int>(type)
                         << "):" << QString::fromStdString(errorText);
    if (userData != nullptr && type > RtMidiError::DEBUG_WARNING)
        static_cast<MidiHandler *>(userData)->midiErrorRaised.store(true);
}

#include "moc_MidiHandler.cpp"
