// The mode switches: the entry points and the sequence that follows the instrument through its
// re-enumeration. Discovery and the ports are in MidiHandler.cpp.
#include "midi/MidiHandler.h"

#include "diagnostics/Logging.h"
#include "midi/GuardedCall.h"

#include <QTimer>

#include <initializer_list>
#include <utility>

namespace {

void stopAll(std::initializer_list<QTimer *> timers)
{
    for (QTimer *timer : timers) {
        if (timer)
            timer->stop();
    }
}

} // namespace

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
    if (std::exchange(instrumentInUpdateMode, false))
        logTrace(QStringLiteral("fileDownloaded: Tovik is already in update mode"));
    else
        sendSysEx(MIDI_SYSEX_UPDATE_MODE);
    emit deviceSetToTransferMode();
}

void MidiHandler::resumeUpdate()
{
    logTrace(QStringLiteral("resumeUpdate: the update Tovik waits for is resumed"));
    instrumentInUpdateMode = true;
}

void MidiHandler::transferComplete(bool success)
{
    logTrace(QStringLiteral("transferComplete(success=%1)")
                 .arg(success ? QStringLiteral("true") : QStringLiteral("false")));
    if (!success) {
        // No sequence follows a failed copy: the check takes the instrument up again, so the
        // window shows where it is.
        pollTimer->start(MidiLink::pollIntervalMs);
        return;
    }
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
    guardedCall<AnyException>([this] { closeInstrumentPorts(); });
    logTrace(QStringLiteral("recreateMidiObjects: ports closed, deleting"));
    midiIn.reset();
    midiOut.reset();
    logTrace(QStringLiteral("recreateMidiObjects: deleted, reconstructing"));
    createMidiObjects();
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
    stopAll({resendTimer, ackTimeoutTimer});
    pendingSysEx = message;
    pendingSend = true;
    awaitedAck.store(message == MIDI_SYSEX_TRANSFER_START ? SysExKind::TransferStartAck
                     : message == MIDI_SYSEX_TRANSFER_END ? SysExKind::TransferEndAck
                                                          : SysExKind::Unrecognised);
    detectTicks = 0;
    sequenceTimer(detectTimer, &MidiHandler::onReenumerationTick, false)->stop();
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

QTimer *MidiHandler::sequenceTimer(QTimer *&timer, void (MidiHandler::*onTimeout)(),
                                   bool singleShot)
{
    if (!timer) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(singleShot);
        connect(timer, &QTimer::timeout, this, onTimeout);
    }
    return timer;
}

void MidiHandler::endSequence(bool success)
{
    ++sequence;
    stopAll({detectTimer, resendTimer, ackTimeoutTimer});
    pendingSend = false;
    emit deviceReenumerationFinished(success);
    pollTimer->start(MidiLink::pollIntervalMs);
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
    createMidiObjects();
    if (!midiIn || !midiOut)
        return;

    const auto [inputIndex, outputIndex] = findInstrumentPorts();
    if (outputIndex < 0 || inputIndex < 0)
        return;
    detectTimer->stop();
    if (!guardedCall(
            [this, in = inputIndex, out = outputIndex] { openInstrumentPorts(in, out); })) {
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
    if (recreateCount == 0)
        sequenceTimer(ackTimeoutTimer, &MidiHandler::onAckTimeout, true)
            ->start(MidiLink::ackTimeoutMs);
    sendPendingSysEx();
}

void MidiHandler::sendPendingSysEx()
{
    if (ackReceived.load() || !pendingSend) {
        endSequence(true);
        return;
    }

    ++sendCount;
    // Without an output object the instrument counts as absent and detection runs again.
    if (!trySend(pendingSysEx)) {
        stopAll({resendTimer});
        retryAfterMidiError();
        return;
    }

    QTimer *resend = sequenceTimer(resendTimer, &MidiHandler::sendPendingSysEx, false);
    if (sendCount >= MidiLink::sendsPerConnection) {
        resend->stop();
        scheduleStep(MidiLink::finalWaitMs, [this] { finishAfterRetries(); });
        return;
    }
    resend->start(MidiLink::resendIntervalMs);
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

void MidiHandler::noteAck(SysExKind kind)
{
    if (kind == awaitedAck.load())
        ackReceived.store(true);
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
    emit owedSysExSent();
}
