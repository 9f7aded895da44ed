#include "sim/instrument/SimulatedMidiBackend.h"

#include "diagnostics/CrashHandler.h"
#include "sim/instrument/SimulatedMidiBus.h"

#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

// RtMidi's rule: with a callback the error is reported there, without one it is thrown unless
// it is only a warning.
struct ErrorReporter
{
    RtMidiErrorCallback callback = nullptr;
    void *userData = nullptr;

    void raise(RtMidiError::Type type, const std::string &text) const
    {
        if (callback != nullptr) {
            callback(type, text, userData);
            return;
        }
        if (type > RtMidiError::DEBUG_WARNING)
            throw RtMidiError(text, type);
        std::cerr << '\n' << text << "\n\n";
    }
};

using PortLookup = bool (SimulatedMidiBus::*)(unsigned int, SimulatedMidiBus::Port &) const;

// RtMidi's answers for port numbers, shared by both directions; `api` names the class in its
// messages ("SimulatedMidiIn", "SimulatedMidiOut").
std::string portName(const SimulatedMidiBus &bus, PortLookup lookup, const ErrorReporter &errors,
                     const char *api, unsigned int portNumber)
{
    SimulatedMidiBus::Port port;
    if (!(bus.*lookup)(portNumber, port)) {
        errors.raise(RtMidiError::WARNING, std::string(api) +
                                               "::getPortName: the 'portNumber' argument (" +
                                               std::to_string(portNumber) + ") is invalid.");
        return std::string();
    }
    return port.name;
}

bool portToOpen(const SimulatedMidiBus &bus, PortLookup lookup, const ErrorReporter &errors,
                const char *api, bool alreadyOpen, unsigned int portNumber,
                SimulatedMidiBus::Port &port)
{
    if (alreadyOpen) {
        errors.raise(RtMidiError::WARNING,
                     std::string(api) + "::openPort: a valid connection already exists!");
        return false;
    }
    if (!(bus.*lookup)(portNumber, port)) {
        errors.raise(RtMidiError::INVALID_PARAMETER,
                     std::string(api) + "::openPort: the 'portNumber' argument (" +
                         std::to_string(portNumber) + ") is invalid.");
        return false;
    }
    return true;
}

bool isIgnored(const std::vector<unsigned char> &message, bool sysex, bool time, bool sense)
{
    if (message.empty())
        return true;
    const unsigned char status = message.front();
    if (sysex && status == 0xF0)
        return true;
    if (time && (status == 0xF1 || status == 0xF8))
        return true;
    return sense && status == 0xFE;
}

class SimulatedMidiInPort : public MidiInPort, public SimulatedMidiBus::Listener
{
public:
    SimulatedMidiInPort(std::shared_ptr<SimulatedMidiBus> simBus, unsigned int queueSizeLimit)
        : bus(std::move(simBus))
        , queueLimit(queueSizeLimit)
    {
    }
    ~SimulatedMidiInPort() override { closePort(); }

    unsigned int getPortCount() override { return bus->inputCount(); }

    std::string getPortName(unsigned int portNumber) override
    {
        return portName(*bus, &SimulatedMidiBus::inputPort, errors, "SimulatedMidiIn", portNumber);
    }

    void openPort(unsigned int portNumber, const std::string &) override
    {
        SimulatedMidiBus::Port port;
        if (!portToOpen(*bus, &SimulatedMidiBus::inputPort, errors, "SimulatedMidiIn", open,
                        portNumber, port))
            return;
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            stopping = false;
            queue.clear();
        }
        if (!bus->openInput(port.id, this)) {
            errors.raise(RtMidiError::DRIVER_ERROR,
                         "SimulatedMidiIn::openPort: ALSA error making port connection.");
            return;
        }
        thread = std::thread([this] { deliverLoop(); });
        open = true;
    }

    void closePort() override
    {
        if (!open)
            return;
        bus->closeInput(this);
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
        open = false;
    }

    void setCallback(RtMidiIn::RtMidiCallback newCallback, void *newUserData) override
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        if (callback != nullptr) {
            errors.raise(RtMidiError::WARNING,
                         "MidiInApi::setCallback: a callback function is already set!");
            return;
        }
        if (newCallback == nullptr) {
            errors.raise(RtMidiError::WARNING,
                         "RtMidiIn::setCallback: callback function value is invalid!");
            return;
        }
        callback = newCallback;
        userData = newUserData;
    }

    void cancelCallback() override
    {
        std::unique_lock<std::mutex> lock(callbackMutex);
        if (callback == nullptr) {
            lock.unlock();
            errors.raise(RtMidiError::WARNING,
                         "RtMidiIn::cancelCallback: no callback function was set!");
            return;
        }
        callback = nullptr;
        userData = nullptr;
    }

    void ignoreTypes(bool midiSysex, bool midiTime, bool midiSense) override
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        ignoreSysex = midiSysex;
        ignoreTime = midiTime;
        ignoreSense = midiSense;
    }

    void setErrorCallback(RtMidiErrorCallback errorCallback, void *errorUserData) override
    {
        errors.callback = errorCallback;
        errors.userData = errorUserData;
    }

    void enqueue(const std::vector<unsigned char> &message) override
    {
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            if (stopping || isIgnored(message, ignoreSysex, ignoreTime, ignoreSense))
                return;
            if (queue.size() >= queueLimit)
                return; // like RtMidi's full queue: the message is lost
            queue.push_back(message);
        }
        wake.notify_all();
    }

private:
    void deliverLoop()
    {
        prepareThreadForCrashHandling();
        for (;;) {
            std::vector<unsigned char> message;
            {
                std::unique_lock<std::mutex> lock(queueMutex);
                wake.wait(lock, [this] { return stopping || !queue.empty(); });
                if (stopping)
                    return;
                message = std::move(queue.front());
                queue.pop_front();
            }
            // Held while calling, so no callback runs once cancelCallback has returned.
            std::lock_guard<std::mutex> lock(callbackMutex);
            if (callback != nullptr)
                callback(0.0, &message, userData);
        }
    }

    std::shared_ptr<SimulatedMidiBus> bus;
    unsigned int queueLimit;
    ErrorReporter errors;
    bool open = false;
    std::thread thread;

    std::mutex queueMutex;
    std::condition_variable wake;
    std::deque<std::vector<unsigned char>> queue;
    bool stopping = false;
    bool ignoreSysex = true;
    bool ignoreTime = true;
    bool ignoreSense = true;

    std::mutex callbackMutex;
    RtMidiIn::RtMidiCallback callback = nullptr;
    void *userData = nullptr;
};

class SimulatedMidiOutPort : public MidiOutPort
{
public:
    explicit SimulatedMidiOutPort(std::shared_ptr<SimulatedMidiBus> simBus)
        : bus(std::move(simBus))
    {
    }
    ~SimulatedMidiOutPort() override { closePort(); }

    unsigned int getPortCount() override { return bus->outputCount(); }

    std::string getPortName(unsigned int portNumber) override
    {
        return portName(*bus, &SimulatedMidiBus::outputPort, errors, "SimulatedMidiOut",
                        portNumber);
    }

    void openPort(unsigned int portNumber, const std::string &) override
    {
        SimulatedMidiBus::Port port;
        if (!portToOpen(*bus, &SimulatedMidiBus::outputPort, errors, "SimulatedMidiOut", open,
                        portNumber, port))
            return;
        if (!bus->openOutput(port.id)) {
            errors.raise(RtMidiError::DRIVER_ERROR,
                         "SimulatedMidiOut::openPort: ALSA error making port connection.");
            return;
        }
        portId = port.id;
        open = true;
    }

    void closePort() override
    {
        if (!open)
            return;
        bus->closeOutput(portId);
        open = false;
    }

    void setErrorCallback(RtMidiErrorCallback errorCallback, void *errorUserData) override
    {
        errors.callback = errorCallback;
        errors.userData = errorUserData;
    }

    void sendMessage(const unsigned char *message, std::size_t size) override
    {
        if (!open)
            return; // dropped, as the library does on a closed port
        if (bus->hostSend(portId, message, size) == SimulatedMidiBus::SendResult::DriverError)
            errors.raise(RtMidiError::DRIVER_ERROR,
                         "SimulatedMidiOut::sendMessage: error sending MIDI message to port.");
    }

private:
    std::shared_ptr<SimulatedMidiBus> bus;
    ErrorReporter errors;
    bool open = false;
    int portId = -1;
};

} // namespace

SimulatedMidiBackend::SimulatedMidiBackend(std::shared_ptr<SimulatedMidiBus> simBus)
    : bus(std::move(simBus))
{
}

std::unique_ptr<MidiInPort> SimulatedMidiBackend::createInput(const std::string &,
                                                              unsigned int queueSizeLimit)
{
    if (bus->constructionFails())
        throw RtMidiError("SimulatedMidiIn::initialize: error creating sequencer client object.",
                          RtMidiError::DRIVER_ERROR);
    return std::make_unique<SimulatedMidiInPort>(bus, queueSizeLimit);
}

std::unique_ptr<MidiOutPort> SimulatedMidiBackend::createOutput(const std::string &)
{
    if (bus->constructionFails())
        throw RtMidiError("SimulatedMidiOut::initialize: error creating sequencer client object.",
                          RtMidiError::DRIVER_ERROR);
    return std::make_unique<SimulatedMidiOutPort>(bus);
}
