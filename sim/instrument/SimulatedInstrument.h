#pragma once

#include "midi/MidiBackend.h"
#include "midi/UsbIds.h"
#include "sim/instrument/SimulatedMidiBus.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QTimer;

// The instrument as the host meets it: in MIDI mode one input and one output port (USB ids
// 1D6B/0104, next to unrelated ports); it answers the version request; on the transfer-start
// message it drops off the bus and returns in transfer mode with its volume "TOVIK", confirming
// each transfer-start it then receives; after that volume is dismounted it returns to MIDI mode
// and confirms the transfer end; on the update-mode message it leaves MIDI and presents
// "tovikupd"; once that is dismounted it reboots, takes the update-finish message, reboots again
// to apply it and then reports the version of the update file that was copied there. Lives on the
// GUI thread; its input reaches the host on a thread of each input port, as RtMidi's does.
class SimulatedInstrument : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Absent, Midi, Transfer, Update };
    Q_ENUM(Mode)

    // The unkind habits of a real instrument and its driver; none by default.
    enum Fault {
        NoFault = 0x00,
        // Off the bus longer than the host's detection budget after every switch or reboot.
        ReturnAfterDetectionBudget = 0x01,
        // On its return its input port is listed a few detection ticks before its output port.
        ReturnPortsOnDifferentTicks = 0x02,
        // A SysEx send to its vanished output port blocks 2000 waits of 1 ms, then errors.
        BlockSendToVanishedPort = 0x04,
        // Active sensing and MIDI clock bytes stream from it while it is on the bus.
        SendActiveSensingAndClock = 0x08,
        // It returns as another sequencer client: another port name and place in the list.
        ReturnWithNewPortIdentity = 0x10,
        // The driver refuses to open its input or its output port.
        FailOpenInputPort = 0x20,
        FailOpenOutputPort = 0x40,
        // The update does not take: after applying it, it still runs (and reports) its old version.
        KeepsOldFirmware = 0x80,
    };
    Q_DECLARE_FLAGS(Faults, Fault)
    Q_FLAG(Faults)

    explicit SimulatedInstrument(QObject *parent = nullptr);
    ~SimulatedInstrument() override;

    // For MidiHandler(backend, lookup, parent).
    std::shared_ptr<MidiBackend> backend() const;
    UsbIdLookup usbIdLookup() const;
    std::shared_ptr<SimulatedMidiBus> bus() const { return midiBus; }

    // Present in MIDI mode / pulled out.
    void plugIn();
    void unplug();
    // Present in update mode with its volume, as an update interrupted before its copy left it.
    void plugInInUpdateMode();
    Mode mode() const { return currentMode; }

    void setVersion(const QString &version) { firmwareVersion = version; }
    QString version() const { return firmwareVersion; }
    // The version the copied update file carries.
    void setUpdateVersion(const QString &version) { updateVersion = version; }
    // Where its update volume keeps its files: from then on it applies the version that the
    // update file copied there carries (see updateFileHeader), and nothing when it carries none.
    void setUpdateVolumeFolder(const QString &folder) { updateFolder = folder; }
    // How the simulated release's update file begins, so the instrument can tell its version.
    static QByteArray updateFileHeader(const QString &version);
    // The version an update file begins with; empty when it carries none or cannot be read.
    static QString versionOfUpdateFile(const QString &path);
    // Time off the bus for each switch of personality.
    void setReenumerationDelay(int ms) { reenumerationDelayMs = ms; }
    // Time off the bus for a reboot (after the update volume is dismounted, and to apply it).
    void setRebootDelay(int ms) { rebootDelayMs = ms; }
    // From the first update-finish message to the reboot that applies the update, and the time
    // that reboot keeps it off the bus (flashing).
    void setApplyDelay(int ms) { applyDelayMs = ms; }
    void setApplyDuration(int ms) { applyDurationMs = ms; }
    // Delay before any answer; a large one makes the confirmation late.
    void setReplyDelay(int ms) { replyDelayMs = ms; }

    // Fault knobs.
    void setFaults(Faults faults);
    Faults faults() const { return activeFaults; }
    void setNeverComesBack(bool on) { neverComesBack = on; }
    void setConfirms(bool on) { confirms = on; }
    void setReturningPorts(SimulatedMidiBus::ReturningPorts ports) { returningPorts = ports; }
    void setExtraPortCount(int count) { midiBus->setExtraPortCount(count); }

    static QByteArray bytes(const std::vector<unsigned char> &message);

signals:
    void volumePresented(QString label);
    void volumeWithdrawn(QString label);
    void messageHandled(QByteArray message);
    void modeChanged(SimulatedInstrument::Mode mode);

public slots:
    void onVolumeDismounted(QString label);

private:
    void handle(const std::vector<unsigned char> &message);
    void reply(const std::vector<unsigned char> &message);
    void leaveBus();
    void returnAs(Mode mode, int afterMs);
    void setMode(Mode mode);
    void sendRealTimeByte();

    std::shared_ptr<SimulatedMidiBus> midiBus;
    Mode currentMode = Mode::Absent;
    // Bumped whenever the instrument is pulled out, so steps scheduled before are dropped.
    int generation = 0;
    QString firmwareVersion = QStringLiteral("1.5.0");
    QString updateVersion = QStringLiteral("1.6.0");
    QString updateFolder;
    bool awaitingUpdateFinish = false;
    int reenumerationDelayMs = 1000;
    int rebootDelayMs = 1500;
    int applyDelayMs = 2000;
    int applyDurationMs = 4000;
    int replyDelayMs = 5;
    bool neverComesBack = false;
    bool confirms = true;
    SimulatedMidiBus::ReturningPorts returningPorts = SimulatedMidiBus::ReturningPorts::Both;
    Faults activeFaults;
    QTimer *clockTimer = nullptr;
    int clockTicks = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(SimulatedInstrument::Faults)
