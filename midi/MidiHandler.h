#pragma once

#include "midi/MidiBackend.h"
#include "midi/SysExMessage.h"
#include "midi/UsbIds.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QTimer;

// The fixed intervals and limits of the MIDI link.
namespace MidiLink {
constexpr int pollIntervalMs = 1000;
constexpr int versionRequestDelayMs = 800;
constexpr int updateFinishDelayMs = 750;
constexpr int detectionStartDelayMs = 2000;
constexpr int detectIntervalMs = 50;
constexpr int detectTickLimit = 100;
constexpr int firstSendDelayMs = 400;
constexpr int resendIntervalMs = 500;
constexpr int sendsPerConnection = 3;
constexpr int finalWaitMs = 3000;
constexpr int ackTimeoutMs = 15000;
constexpr int recreateLimit = 4;
constexpr int redetectDelayMs = 1500;
constexpr unsigned int inputQueueSizeLimit = 100;
// The longest an update-finish sequence takes from the successful copy: its start, a detection
// pass that finds the instrument at the last tick, the first send and the acknowledgement
// timeout, which ends every sequence still running.
constexpr int updateFinishLimitMs = updateFinishDelayMs + detectionStartDelayMs +
                                    (detectTickLimit + 1) * detectIntervalMs + firstSendDelayMs +
                                    ackTimeoutMs;
} // namespace MidiLink

// The link to the instrument: finds it among the MIDI ports by its USB ids once a second, opens
// its ports, turns its SysEx replies into signals and follows it through its mode switches.
class MidiHandler : public QObject
{
    Q_OBJECT
public:
    // The platform's MIDI service and USB lookup.
    explicit MidiHandler(QObject *parent = nullptr);
    // Any MIDI backend and lookup, e.g. the simulated instrument.
    MidiHandler(std::shared_ptr<MidiBackend> midiBackend, UsbIdLookup usbIdLookup, QObject *parent);
    ~MidiHandler() override;

signals:
    void deviceReenumerationFinished(bool success);
    void deviceFound(bool deviceFound);
    void deviceSetToTransferMode();
    void updateTransferDone();
    void transferSysExReceived();
    void transferSysExEndReceived();
    void tovikReceivedVersion(QString version);
    // What a sequence that gave up owed the instrument has gone out, now that it is back.
    void owedSysExSent();

private slots:
    bool checkForTovikHost();

public slots:
    void transferComplete(bool success);
    void fileDownloaded(bool success);
    void onEjectCompleted(bool success);

public:
    Q_INVOKABLE void sendTransferSysEx();
    // The instrument waits in update mode, left there by an interrupted update: the next
    // downloaded file goes straight to its volume, without the update-mode message.
    Q_INVOKABLE void resumeUpdate();

private:
    static void onMidiMessage(double timeStamp, std::vector<unsigned char> *message,
                              void *userData);
    static void onRtMidiError(RtMidiError::Type type, const std::string &errorText, void *userData);

    // Builds whichever side is missing; the error that stopped it, if any, is returned.
    std::optional<RtMidiError> createMidiObjects();
    // The indexes of the instrument's input and output port, -1 where it has none.
    std::pair<int, int> findInstrumentPorts();
    QString portListSignature();
    void openInstrumentPorts(int inputIndex, int outputIndex);
    void closeInstrumentPorts();
    void requestFirmwareVersion();
    void sendSysEx(const SysExMessage &message);
    // One send; false when the library threw or reported an error above a warning.
    bool trySend(const SysExMessage &message);
    void reconnectMidiPorts();

    void recreateMidiObjects();
    void startWindowsReenumerationSequence(const SysExMessage &message);
    void onReenumerationTick();
    void startAckWait();
    void sendPendingSysEx();
    void retryAfterMidiError();
    void finishAfterRetries();
    void onAckTimeout();
    void releaseWithAck();
    // On the input thread: a confirmation counts only for the message it answers.
    void noteAck(SysExKind kind);
    // Every way a sequence ends: its timers stop, none of its scheduled steps runs later and
    // polling resumes.
    void endSequence(bool success);
    // Runs step after ms, unless its sequence has ended or another has started meanwhile.
    void scheduleStep(int ms, const std::function<void()> &step);
    // A timer of the sequence, made on first use and kept.
    QTimer *sequenceTimer(QTimer *&timer, void (MidiHandler::*onTimeout)(), bool singleShot);
    void sendOwedSysEx();

    SysExMessage pendingSysEx;
    bool pendingSend = false;
    QTimer *detectTimer = nullptr;
    int detectTicks = 0;
    QTimer *resendTimer = nullptr;
    int sendCount = 0;
    QTimer *ackTimeoutTimer = nullptr;
    int recreateCount = 0;
    std::atomic<bool> ackReceived{false};
    // The confirmation that answers pendingSysEx; any other kind is stray or late and ends nothing.
    std::atomic<SysExKind> awaitedAck{SysExKind::Unrecognised};
    bool reenumerating = false;
    bool connected = false;
    QString lastPortList;
    std::atomic<bool> midiErrorRaised{false};
    std::unique_ptr<MidiInPort> midiIn;
    std::unique_ptr<MidiOutPort> midiOut;
    QTimer *pollTimer = nullptr;

    std::shared_ptr<MidiBackend> backend;
    UsbIdLookup usbIds;
    // Bumped when a sequence starts or ends; its scheduled steps carry the value they belong to.
    int sequence = 0;
    // The transfer end or update finish of a sequence that gave up, sent once the instrument is
    // connected again.
    SysExMessage owedSysEx;
    bool instrumentInUpdateMode = false;
};
