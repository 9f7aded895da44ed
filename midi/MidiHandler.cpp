#include "midi/MidiHandler.h"

#include "diagnostics/Logging.h"
#include "midi/RtMidiBackend.h"

#include <QDebug>
#include <QTimer>

#include <utility>

namespace {

const std::string inputClientName = "RtMidi Input Client";
const std::string outputClientName = "RtMidi Output Client";
const std::string inputPortName = "RtMidi Input";
const std::string outputPortName = "RtMidi Output";

template<class Port> int scanForInstrument(Port &port, const UsbIdLookup &usbIds)
{
    unsigned int count = 0;
    try {
        count = port.getPortCount();
    } catch (const RtMidiError &) {
        return -1;
    }
    for (unsigned int i = 0; i < count; ++i) {
        try {
            const QString name = QString::fromStdString(port.getPortName(i));
            QString vendorId;
            QString productId;
            const bool found = usbIds && usbIds(name, vendorId, productId);
            if (matchesInstrumentIds(found, vendorId, productId))
                return static_cast<int>(i);
        } catch (const RtMidiError &) {
            // One unreadable port must not hide the others.
        }
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
    try {
        midiIn = backend->createInput(inputClientName, MidiLink::inputQueueSizeLimit);
        midiOut = backend->createOutput(outputClientName);
    } catch (const RtMidiError &error) {
        error.printMessage();
        // Without this line the log would never say why the instrument is not found.
        qWarning().noquote() << "MH: MIDI service unavailable, the instrument will not be found:"
                             << QString::fromStdString(error.getMessage());
        return;
    }
    registerErrorCallbacks();
    try {
        midiIn->ignoreTypes(false, false, false);
    } catch (...) {
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

void MidiHandler::registerErrorCallbacks()
{
    try {
        if (midiIn)
            midiIn->setErrorCallback(&MidiHandler::onRtMidiError, this);
    } catch (...) {
    }
    try {
        if (midiOut)
            midiOut->setErrorCallback(&MidiHandler::onRtMidiError, this);
    } catch (...) {
    }
}

bool MidiHandler::ensureMidiObjects()
{
    bool created = false;
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
    } catch (const RtMidiError &) {
    }
    // Registered even when the other side failed, so a half-built pair still reports errors.
    if (created)
        registerErrorCallbacks();
    return midiIn && midiOut;
}

QString MidiHandler::portListSignature()
{
    QString signature;
    try {
        appendPortNames(*midiIn, signature);
        signature += QLatin1Char('/');
        appendPortNames(*midiOut, signature);
    } catch (...) {
        signature = QStringLiteral("<enumeration error>");
    }
    return signature;
}

int MidiHandler::findInstrumentInput()
{
    return midiIn ? scanForInstrument(*midiIn, usbIds) : -1;
}

int MidiHandler::findInstrumentOutput()
{
    return midiOut ? scanForInstrument(*midiOut, usbIds) : -1;
}

bool MidiHandler::checkForTovikHost()
{
    if (!ensureMidiObjects())
        return false;

    const QString signature = portListSignature();
    if (signature != lastPortList) {
        lastPortList = signature;
        logTrace(QStringLiteral("MIDI port list changed: %1").arg(signature));
    }

    const int inputIndex = findInstrumentInput();
    const int outputIndex = findInstrumentOutput();
    if (inputIndex >= 0 && outputIndex >= 0) {
        if (connected)
            return true;
        try {
            openInstrumentPorts(inputIndex, outputIndex);
        } catch (const RtMidiError &) {
            return true;
        }
        if (!owedSysEx.empty())
            QTimer::singleShot(MidiLink::versionRequestDelayMs, Qt::PreciseTimer, this,
                               &MidiHandler::sendOwedSysEx);
        if (!reenumerating)
            QTimer::singleShot(MidiLink::versionRequestDelayMs, Qt::PreciseTimer, this,
                               &MidiHandler::requestFirmwareVersion);
        connected = true;
        emit deviceFound(true);
        return true;
    }

    if (connected) {
        try {
            closeInstrumentPorts();
        } catch (...) {
        }
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
        try {
            closeInstrumentPorts();
        } catch (const RtMidiError &) {
        }
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
    midiErrorRaised.store(false);
    bool thrown = false;
    try {
        midiOut->sendMessage(message.data(), message.size());
    } catch (const RtMidiError &) {
        thrown = true;
    }
    if (!midiErrorRaised.exchange(false) && !thrown)
        return;

    reconnectMidiPorts();
    midiErrorRaised.store(false);
    try {
        if (midiOut)
            midiOut->sendMessage(message.data(), message.size());
    } catch (const RtMidiError &) {
    }
    midiErrorRaised.store(false);
}

void MidiHandler::reconnectMidiPorts()
{
    const bool wasConnected = connected;
    try {
        closeInstrumentPorts();
    } catch (const RtMidiError &) {
    }
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
        handler->ackReceived.store(true);
        emit handler->transferSysExReceived();
        break;
    case SysExKind::TransferEndAck:
        handler->ackReceived.store(true);
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

// Mode switches.

void MidiHandler::sendTransferSysEx()
{
    sendSysEx(MIDI_SYSEX_TRANSFER_START);
    pollTimer->stop();
    startWindowsReenumerationSequence(MIDI_SYSEX_TRANSFER_START);
}

void MidiHandler::fileDownloaded(bool success)
{
    if (!success)
        return;
    pollTimer->stop();
    sendSysEx(MIDI_SYSEX_UPDATE_MODE);
    emit deviceSetToTransferMode();
}

void MidiHandler::transferComplete(bool success)
{
    logTrace(QStringLiteral("transferComplete(success=%1)")
                 .arg(success ? QStringLiteral("true") : QStringLiteral("false")));
    if (!success)
        return;
    pollTimer->stop();
    QTimer::singleShot(
        MidiLink::updateFinishDelayMs, Qt::PreciseTimer, this,
        [this, message = MIDI_SYSEX_UPDATE_FINISH] { startWindowsReenumerationSequence(message); });
    emit updateTransferDone();
}

void MidiHandler::onEjectCompleted(bool success)
{
    if (!success) {
        // The volume is still mounted: the instrument stays in transfer mode and the window
        // offers DONE again.
        qWarning("MH: Eject reported failure; staying in transfer mode");
        logTrace(QStringLiteral("onEjectCompleted(false): transfer end not sent"));
        return;
    }
    pollTimer->stop();
    startWindowsReenumerationSequence(MIDI_SYSEX_TRANSFER_END);
}

void MidiHandler::recreateMidiObjects()
{
    logTrace(QStringLiteral("recreateMidiObjects: begin"));
    try {
        if (midiIn) {
            midiIn->cancelCallback();
            midiIn->closePort();
        }
        if (midiOut)
            midiOut->closePort();
    } catch (...) {
    }
    logTrace(QStringLiteral("recreateMidiObjects: ports closed, deleting"));
    midiIn.reset();
    midiOut.reset();
    logTrace(QStringLiteral("recreateMidiObjects: deleted, reconstructing"));
    try {
        midiIn = backend->createInput(inputClientName, MidiLink::inputQueueSizeLimit);
        midiOut = backend->createOutput(outputClientName);
        midiIn->setErrorCallback(&MidiHandler::onRtMidiError, this);
        midiOut->setErrorCallback(&MidiHandler::onRtMidiError, this);
        midiIn->ignoreTypes(false, false, false);
    } catch (const RtMidiError &) {
    }
    logTrace(QStringLiteral("recreateMidiObjects: done"));
}

void MidiHandler::startWindowsReenumerationSequence(const SysExMessage &message)
{
    logTrace(QStringLiteral("startWindowsReenumerationSequence: begin"));
    recreateMidiObjects();
    ++sequence;
    owedSysEx.clear();
    reenumerating = true;
    connected = false;
    ackReceived.store(false);
    sendCount = 0;
    recreateCount = 0;
    if (resendTimer)
        resendTimer->stop();
    if (ackTimeoutTimer)
        ackTimeoutTimer->stop();
    pendingSysEx = message;
    pendingSend = true;
    detectTicks = 0;
    if (!detectTimer) {
        detectTimer = new QTimer(this);
        detectTimer->setTimerType(Qt::PreciseTimer);
        connect(detectTimer, &QTimer::timeout, this, &MidiHandler::onReenumerationTick);
    }
    detectTimer->stop();
    scheduleStep(MidiLink::detectionStartDelayMs, [this] {
        detectTicks = 0;
        detectTimer->start(MidiLink::detectIntervalMs);
    });
}

void MidiHandler::scheduleStep(int ms, const std::function<void()> &step)
{
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, step, at = sequence] {
        if (at == sequence)
            step();
    });
}

void MidiHandler::endSequence(bool success)
{
    ++sequence;
    for (QTimer *timer : {detectTimer, resendTimer, ackTimeoutTimer}) {
        if (timer)
            timer->stop();
    }
    pendingSend = false;
    emit deviceReenumerationFinished(success);
    resumePolling();
}

void MidiHandler::onReenumerationTick()
{
    ++detectTicks;
    if (detectTicks > MidiLink::detectTickLimit) {
        reenumerating = false;
        // The instrument has left transfer or update mode and still needs to be told so when
        // it is back; a transfer start is not repeated behind the user's back.
        if (pendingSysEx != MIDI_SYSEX_TRANSFER_START)
            owedSysEx = pendingSysEx;
        endSequence(false);
        return;
    }
    // A failed re-creation leaves a side missing: build it again, or count this tick as absent.
    if (!ensureMidiObjects())
        return;

    const int inputIndex = findInstrumentInput();
    const int outputIndex = findInstrumentOutput();
    if (outputIndex < 0 || inputIndex < 0)
        return;
    detectTimer->stop();
    try {
        openInstrumentPorts(inputIndex, outputIndex);
    } catch (const RtMidiError &) {
        // Keep detecting within the same bounded pass rather than stall with nothing scheduled.
        detectTimer->start(MidiLink::detectIntervalMs);
        return;
    }
    connected = true;
    ackReceived.store(false);
    sendCount = 0;
    scheduleStep(MidiLink::firstSendDelayMs, [this] { startAckWait(); });
}

void MidiHandler::startAckWait()
{
    if (recreateCount == 0) {
        if (!ackTimeoutTimer) {
            ackTimeoutTimer = new QTimer(this);
            ackTimeoutTimer->setTimerType(Qt::PreciseTimer);
            ackTimeoutTimer->setSingleShot(true);
            connect(ackTimeoutTimer, &QTimer::timeout, this, &MidiHandler::onAckTimeout);
        }
        ackTimeoutTimer->start(MidiLink::ackTimeoutMs);
    }
    sendPendingSysEx();
}

void MidiHandler::resumePolling()
{
    pollTimer->start(MidiLink::pollIntervalMs);
}

void MidiHandler::sendPendingSysEx()
{
    if (ackReceived.load() || !pendingSend) {
        endSequence(true);
        return;
    }

    ++sendCount;
    midiErrorRaised.store(false);
    bool failed = false;
    if (midiOut) {
        try {
            midiOut->sendMessage(pendingSysEx.data(), pendingSysEx.size());
        } catch (const RtMidiError &) {
            failed = true;
        }
    } else {
        // No output object: the instrument counts as absent and detection runs again.
        failed = true;
    }
    if (midiErrorRaised.exchange(false) || failed) {
        if (resendTimer)
            resendTimer->stop();
        retryAfterMidiError();
        return;
    }

    if (!resendTimer) {
        resendTimer = new QTimer(this);
        resendTimer->setTimerType(Qt::PreciseTimer);
        connect(resendTimer, &QTimer::timeout, this, &MidiHandler::sendPendingSysEx);
    }
    if (sendCount >= MidiLink::sendsPerConnection) {
        resendTimer->stop();
        scheduleStep(MidiLink::finalWaitMs, [this] { finishAfterRetries(); });
        return;
    }
    resendTimer->start(MidiLink::resendIntervalMs);
}

void MidiHandler::finishAfterRetries()
{
    // Never confirmed: the window is released as if the instrument had confirmed.
    if (!ackReceived.load())
        releaseWithAck();
    endSequence(true);
}

void MidiHandler::onAckTimeout()
{
    if (ackReceived.load())
        return;
    releaseWithAck();
    endSequence(true);
}

void MidiHandler::releaseWithAck()
{
    if (pendingSysEx.size() != MIDI_SYSEX_TRANSFER_START.size())
        return;
    if (pendingSysEx[4] == MIDI_SYSEX_TRANSFER_START[4])
        emit transferSysExReceived();
    else if (pendingSysEx[4] == MIDI_SYSEX_TRANSFER_END[4])
        emit transferSysExEndReceived();
}

void MidiHandler::retryAfterMidiError()
{
    ++recreateCount;
    if (recreateCount > MidiLink::recreateLimit)
        return;
    connected = false;
    recreateMidiObjects();
    sendCount = 0;
    detectTicks = 0;
    scheduleStep(MidiLink::redetectDelayMs, [this] {
        if (detectTimer)
            detectTimer->start(MidiLink::detectIntervalMs);
    });
}

void MidiHandler::sendOwedSysEx()
{
    if (!connected || owedSysEx.empty())
        return;
    const SysExMessage message = std::exchange(owedSysEx, SysExMessage());
    logTrace(QStringLiteral("sendOwedSysEx: the instrument is back, sending what it missed"));
    sendSysEx(message);
}

#include "moc_MidiHandler.cpp"
