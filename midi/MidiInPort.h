#pragma once

#include <rtmidi/RtMidi.h>

#include <string>

// The input calls MidiHandler makes, with RtMidiIn's meaning: errors go to the error callback
// once one is set, otherwise RtMidiError is thrown.
class MidiInPort
{
public:
    virtual ~MidiInPort() = default;

    virtual unsigned int getPortCount() = 0;
    virtual std::string getPortName(unsigned int portNumber) = 0;
    virtual void openPort(unsigned int portNumber, const std::string &portName) = 0;
    virtual void closePort() = 0;
    virtual void setCallback(RtMidiIn::RtMidiCallback callback, void *userData) = 0;
    virtual void cancelCallback() = 0;
    virtual void ignoreTypes(bool midiSysex, bool midiTime, bool midiSense) = 0;
    virtual void setErrorCallback(RtMidiErrorCallback errorCallback, void *userData) = 0;
};
