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
    struct Event
    {
        EventKind kind;
        std::vector<unsigned char> bytes; // for Received
        qint64 atMs;                      // QElapsedTimer::msecsSinceReference()
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

    // Fault knobs.
    void setExtraPortCount(int count);
    void setMidiThrough(bool present);
    void failNextSends(int count);
    void failNextConstructions(int count);
    bool takeConstructionFailure();
    void setPortNameError(const std::string &portName);
    void setLoopback(bool on);
    // Opening the instrument's input or output port fails.
    void setOpenFailures(bool input, bool output);
    // A SysEx send to an instrument port that has gone blocks, as the Windows driver does,
    // for 2000 waits of 1 ms, and then fails.
    void setBlockingVanishedSends(bool on);
    // The instrument comes back as a new sequencer client: another number, another place in
    // the lists once other clients are there.
    void renewInstrumentIdentity();

    std::vector<Event> events() const;
    void clearEvents();

private:
    void rebuildLists();
    void record(EventKind kind, const unsigned char *bytes, std::size_t size);

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
    int sendFailures = 0;
    int constructionFailures = 0;
    std::string failingPortName;
    bool loopback = false;
    bool failOpenInput = false;
    bool failOpenOutput = false;
    bool blockVanishedSends = false;
    int instrumentClient = 20;
    std::vector<Event> log;
};
