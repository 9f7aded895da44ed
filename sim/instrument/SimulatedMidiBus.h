#pragma once

#include <QString>

#include <rtmidi/RtMidi.h>

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What the simulated MIDI service shows the host: the ports present now, and the wiring between
// the host's open port objects and the instrument. Shared by the port objects (GUI thread), their
// delivery threads and the instrument; every member is guarded by one mutex.
class SimulatedMidiBus
{
public:
    struct Port
    {
        int id = 0;
        std::string name;
        QString vendorId; // empty: no USB device behind the port
        QString productId;
        bool instrument = false;
    };

    enum class EventKind { Received, OpenedInput, OpenedOutput, ClosedInput, ClosedOutput };
    // Faults of the host's calls that a test may give the bus; Loopback: every host send also
    // reaches every open input.
    enum class HostFault { Construction, PortName, Send, Loopback };

    // A test's hand on the host's side: the faults it wants and a view of what happens to the
    // instrument's ports. Called under the bus's lock, so it must not call the bus.
    class Hooks
    {
    public:
        virtual ~Hooks() = default;
        // Whether the fault applies to this call; portName only for PortName.
        virtual bool applies(HostFault fault, const std::string &portName) = 0;
        // The instrument's port was opened or closed, or it received bytes.
        virtual void record(EventKind kind, const unsigned char *bytes, std::size_t size) = 0;
    };

    // One open host input: a queue drained by its own thread, like RtMidi's input thread.
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void enqueue(const std::vector<unsigned char> &message) = 0;
    };

    enum class SendResult { Delivered, Dropped, DriverError };
    enum class ReturningPorts { Both, InputOnly, OutputOnly };

    SimulatedMidiBus();

    unsigned int inputCount() const;
    unsigned int outputCount() const;
    // False for an index out of range; throws RtMidiError for a port set to fail.
    bool inputPort(unsigned int index, Port &port) const;
    bool outputPort(unsigned int index, Port &port) const;

    bool usbIdsForPort(const QString &portName, QString &vendorId, QString &productId) const;

    // Instrument side.
    void setInstrumentPorts(bool input, bool output);
    bool instrumentPresent() const;
    void setInstrumentSink(std::function<void(std::vector<unsigned char>)> sink);
    void instrumentSend(const std::vector<unsigned char> &message);

    // Host side. An open that the driver refuses returns false.
    SendResult hostSend(int outputPortId, const unsigned char *message, std::size_t size);
    bool openInput(int portId, Listener *listener);
    void closeInput(Listener *listener);
    bool openOutput(int portId);
    void closeOutput(int portId);

    // Null: no test hooks.
    void setHooks(Hooks *hooks);
    // Whether creating a port object fails, as it does when the sequencer refuses a client.
    bool constructionFails();

    // Fault knobs.
    void setExtraPortCount(int count);
    void setMidiThrough(bool present);
    // Opening the instrument's input or output port fails.
    void setOpenFailures(bool input, bool output);
    // A SysEx send to an instrument port that has gone blocks, as the Windows driver does,
    // for 2000 waits of 1 ms, and then fails.
    void setBlockingVanishedSends(bool on);
    // The instrument comes back as a new sequencer client: another number, another place in
    // the lists once other clients are there.
    void renewInstrumentIdentity();

private:
    void rebuildLists();
    bool hooked(HostFault fault, const std::string &portName = std::string()) const;
    void record(EventKind kind, const unsigned char *bytes = nullptr, std::size_t size = 0);

    mutable std::mutex mutex;
    std::vector<Port> fixedPorts; // unrelated devices, present on both sides
    int extraPortCount = 0;
    bool midiThrough = true;
    bool instrumentIn = false;
    bool instrumentOut = false;
    int instrumentInId = 0;
    int instrumentOutId = 0;
    int nextId = 1000;
    std::vector<Port> inputs;
    std::vector<Port> outputs;
    std::vector<std::pair<int, Listener *>> openInputs;
    std::function<void(std::vector<unsigned char>)> sink;
    Hooks *hooks = nullptr;
    bool failOpenInput = false;
    bool failOpenOutput = false;
    bool blockVanishedSends = false;
    int instrumentClient = 20;
};
