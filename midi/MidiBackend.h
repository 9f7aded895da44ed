#pragma once

#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"

#include <memory>
#include <string>

// Makes MIDI port objects. Like the RtMidi constructors, both calls may throw RtMidiError.
class MidiBackend
{
public:
    virtual ~MidiBackend() = default;

    virtual std::unique_ptr<MidiInPort> createInput(const std::string &clientName,
                                                    unsigned int queueSizeLimit) = 0;
    virtual std::unique_ptr<MidiOutPort> createOutput(const std::string &clientName) = 0;
};
