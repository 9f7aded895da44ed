#include "midi/RtMidiBackend.h"

namespace {

class RtMidiInPort : public MidiInPort
{
public:
    RtMidiInPort(RtMidi::Api api, const std::string &clientName, unsigned int queueSizeLimit)
        : in(api, clientName, queueSizeLimit)
    {
    }
    unsigned int getPortCount() override { return in.getPortCount(); }
    std::string getPortName(unsigned int portNumber) override { return in.getPortName(portNumber); }
    void openPort(unsigned int portNumber, const std::string &portName) override
    {
        in.openPort(portNumber, portName);
    }
    void closePort() override { in.closePort(); }
    void setCallback(RtMidiIn::RtMidiCallback callback, void *userData) override
    {
        in.setCallback(callback, userData);
    }
    void cancelCallback() override { in.cancelCallback(); }
    void ignoreTypes(bool midiSysex, bool midiTime, bool midiSense) override
    {
        in.ignoreTypes(midiSysex, midiTime, midiSense);
    }
    void setErrorCallback(RtMidiErrorCallback errorCallback, void *userData) override
    {
        in.setErrorCallback(errorCallback, userData);
    }

private:
    RtMidiIn in;
};

class RtMidiOutPort : public MidiOutPort
{
public:
    RtMidiOutPort(RtMidi::Api api, const std::string &clientName)
        : out(api, clientName)
    {
    }
    unsigned int getPortCount() override { return out.getPortCount(); }
    std::string getPortName(unsigned int portNumber) override
    {
        return out.getPortName(portNumber);
    }
    void openPort(unsigned int portNumber, const std::string &portName) override
    {
        out.openPort(portNumber, portName);
    }
    void closePort() override { out.closePort(); }
    void setErrorCallback(RtMidiErrorCallback errorCallback, void *userData) override
    {
        out.setErrorCallback(errorCallback, userData);
    }
    void sendMessage(const unsigned char *message, std::size_t size) override
    {
        out.sendMessage(message, size);
    }

private:
    RtMidiOut out;
};

} // namespace

std::unique_ptr<MidiInPort> RtMidiBackend::createInput(const std::string &clientName,
                                                       unsigned int queueSizeLimit)
{
    return std::make_unique<RtMidiInPort>(platformApi(), clientName, queueSizeLimit);
}

std::unique_ptr<MidiOutPort> RtMidiBackend::createOutput(const std::string &clientName)
{
    return std::make_unique<RtMidiOutPort>(platformApi(), clientName);
}
