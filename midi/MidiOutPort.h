#pragma once

#include <rtmidi/RtMidi.h>

#include <cstddef>
#include <string>

// The output calls MidiHandler makes, with RtMidiOut's meaning.
class MidiOutPort
{
public:
    virtual ~MidiOutPort() = default;

    virtual unsigned int getPortCount() = 0;
    virtual std::string getPortName(unsigned int portNumber) = 0;
    virtual void openPort(unsigned int portNumber, const std::string &portName) = 0;
    virtual void closePort() = 0;
    virtual void setErrorCallback(RtMidiErrorCallback errorCallback, void *userData) = 0;
    virtual void sendMessage(const unsigned char *message, std::size_t size) = 0;
};
