#include "sim/instrument/SimulatedMidiBus.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr int midiThroughId = 1;
constexpr int firstExtraClient = 28;
constexpr int firstInstrumentPortId = 1000;
// What the Windows driver does with a SysEx message it cannot hand on.
constexpr int driverWaits = 2000;

} // namespace

SimulatedMidiBus::SimulatedMidiBus()
{
    // A stock Linux system always lists the kernel's MIDI Through port.
    Port through;
    through.id = midiThroughId;
    through.name = "Midi Through:Midi Through Port-0 14:0";
    fixedPorts.push_back(through);
    rebuildLists();
}

void SimulatedMidiBus::rebuildLists()
{
    inputs.clear();
    outputs.clear();
    // Listed by sequencer client number, as ALSA lists them.
    std::vector<std::pair<int, Port>> clients;
    for (int i = 0; i < extraPortCount; ++i) {
        Port extra;
        extra.id = 100 + i;
        const int client = firstExtraClient + i;
        extra.name = "Sim Synth " + std::to_string(i + 1) + ":Sim Synth " + std::to_string(i + 1) +
                     " MIDI 1 " + std::to_string(client) + ":0";
        extra.vendorId = QStringLiteral("1C75");
        extra.productId = QStringLiteral("%1").arg(0x200 + i, 4, 16, QLatin1Char('0')).toUpper();
        clients.emplace_back(client, extra);
    }
    Port tovik;
    tovik.name = "Tovik:Tovik MIDI 1 " + std::to_string(instrumentClient) + ":0";
    tovik.vendorId = QStringLiteral("1D6B");
    tovik.productId = QStringLiteral("0104");
    tovik.instrument = true;
    clients.emplace_back(instrumentClient, tovik);
    std::stable_sort(clients.begin(), clients.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });

    for (const Port &port : fixedPorts) {
        if (!midiThrough)
            break;
        inputs.push_back(port);
        outputs.push_back(port);
    }
    for (auto &[client, port] : clients) {
        if (!port.instrument) {
            inputs.push_back(port);
            outputs.push_back(port);
            continue;
        }
        // The host's input is the instrument's output and the other way round.
        if (instrumentIn) {
            port.id = instrumentInId;
            inputs.push_back(port);
        }
        if (instrumentOut) {
            port.id = instrumentOutId;
            outputs.push_back(port);
        }
    }
}

unsigned int SimulatedMidiBus::inputCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<unsigned int>(inputs.size());
}

unsigned int SimulatedMidiBus::outputCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<unsigned int>(outputs.size());
}

bool SimulatedMidiBus::inputPort(unsigned int index, Port &port) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (index >= inputs.size())
        return false;
    if (hooked(HostFault::PortName, inputs[index].name))
        throw RtMidiError("SimulatedMidiIn::getPortName: error looking for port name!",
                          RtMidiError::DRIVER_ERROR);
    port = inputs[index];
    return true;
}

bool SimulatedMidiBus::outputPort(unsigned int index, Port &port) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (index >= outputs.size())
        return false;
    if (hooked(HostFault::PortName, outputs[index].name))
        throw RtMidiError("SimulatedMidiOut::getPortName: error looking for port name!",
                          RtMidiError::DRIVER_ERROR);
    port = outputs[index];
    return true;
}

bool SimulatedMidiBus::usbIdsForPort(const QString &portName, QString &vendorId,
                                     QString &productId) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const std::string name = portName.toStdString();
    for (const std::vector<Port> *list : {&inputs, &outputs}) {
        for (const Port &port : *list) {
            if (port.name == name && !port.vendorId.isEmpty()) {
                vendorId = port.vendorId;
                productId = port.productId;
                return true;
            }
        }
    }
    return false;
}

void SimulatedMidiBus::setInstrumentPorts(bool input, bool output)
{
    std::lock_guard<std::mutex> lock(mutex);
    // A port that comes back is a new port: handles to the old one are dead.
    if (input && !instrumentIn)
        instrumentInId = nextId++;
    if (output && !instrumentOut)
        instrumentOutId = nextId++;
    instrumentIn = input;
    instrumentOut = output;
    rebuildLists();
}

bool SimulatedMidiBus::instrumentPresent() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return instrumentIn || instrumentOut;
}

void SimulatedMidiBus::setInstrumentSink(std::function<void(std::vector<unsigned char>)> newSink)
{
    std::lock_guard<std::mutex> lock(mutex);
    sink = std::move(newSink);
}

void SimulatedMidiBus::instrumentSend(const std::vector<unsigned char> &message)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!instrumentIn)
        return;
    for (const auto &open : openInputs) {
        if (open.first == instrumentInId)
            open.second->enqueue(message);
    }
}

SimulatedMidiBus::SendResult
SimulatedMidiBus::hostSend(int outputPortId, const unsigned char *message, std::size_t size)
{
    std::unique_lock<std::mutex> lock(mutex);
    const bool vanished = outputPortId >= firstInstrumentPortId &&
                          !(instrumentOut && outputPortId == instrumentOutId);
    if (blockVanishedSends && vanished && size > 3) {
        lock.unlock();
        for (int i = 0; i < driverWaits; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return SendResult::DriverError;
    }
    if (hooked(HostFault::Send))
        return SendResult::DriverError;
    const std::vector<unsigned char> bytes(message, message + size);
    if (hooked(HostFault::Loopback)) {
        for (const auto &open : openInputs)
            open.second->enqueue(bytes);
    }
    if (!instrumentOut || outputPortId != instrumentOutId)
        return SendResult::Dropped;
    record(EventKind::Received, message, size);
    // Called under the lock so the instrument cannot go away meanwhile; the sink only posts.
    if (sink)
        sink(bytes);
    return SendResult::Delivered;
}

bool SimulatedMidiBus::openInput(int portId, Listener *listener)
{
    std::lock_guard<std::mutex> lock(mutex);
    const bool instrument = instrumentIn && portId == instrumentInId;
    if (instrument && failOpenInput)
        return false;
    openInputs.emplace_back(portId, listener);
    if (instrument)
        record(EventKind::OpenedInput);
    return true;
}

void SimulatedMidiBus::closeInput(Listener *listener)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = openInputs.begin(); it != openInputs.end(); ++it) {
        if (it->second == listener) {
            if (it->first == instrumentInId)
                record(EventKind::ClosedInput);
            openInputs.erase(it);
            return;
        }
    }
}

bool SimulatedMidiBus::openOutput(int portId)
{
    std::lock_guard<std::mutex> lock(mutex);
    const bool instrument = instrumentOut && portId == instrumentOutId;
    if (instrument && failOpenOutput)
        return false;
    if (instrument)
        record(EventKind::OpenedOutput);
    return true;
}

void SimulatedMidiBus::closeOutput(int portId)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (portId == instrumentOutId)
        record(EventKind::ClosedOutput);
}

void SimulatedMidiBus::setExtraPortCount(int count)
{
    std::lock_guard<std::mutex> lock(mutex);
    extraPortCount = count;
    rebuildLists();
}

void SimulatedMidiBus::setMidiThrough(bool present)
{
    std::lock_guard<std::mutex> lock(mutex);
    midiThrough = present;
    rebuildLists();
}

void SimulatedMidiBus::setOpenFailures(bool input, bool output)
{
    std::lock_guard<std::mutex> lock(mutex);
    failOpenInput = input;
    failOpenOutput = output;
}

void SimulatedMidiBus::setBlockingVanishedSends(bool on)
{
    std::lock_guard<std::mutex> lock(mutex);
    blockVanishedSends = on;
}

void SimulatedMidiBus::renewInstrumentIdentity()
{
    std::lock_guard<std::mutex> lock(mutex);
    // Past the clients that came meanwhile (the extra ports start at 28).
    instrumentClient += 16;
    rebuildLists();
}

void SimulatedMidiBus::setHooks(Hooks *newHooks)
{
    std::lock_guard<std::mutex> lock(mutex);
    hooks = newHooks;
}

bool SimulatedMidiBus::constructionFails()
{
    std::lock_guard<std::mutex> lock(mutex);
    return hooked(HostFault::Construction);
}

bool SimulatedMidiBus::hooked(HostFault fault, const std::string &portName) const
{
    return hooks != nullptr && hooks->applies(fault, portName);
}

void SimulatedMidiBus::record(EventKind kind, const unsigned char *bytes, std::size_t size)
{
    if (hooks != nullptr)
        hooks->record(kind, bytes, size);
}
