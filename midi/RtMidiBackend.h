#pragma once

#include "midi/MidiBackend.h"

// The real MIDI service through RtMidi.
class RtMidiBackend : public MidiBackend
{
public:
    std::unique_ptr<MidiInPort> createInput(const std::string &clientName,
                                            unsigned int queueSizeLimit) override;
    std::unique_ptr<MidiOutPort> createOutput(const std::string &clientName) override;

    // The API asked for on this platform (RtMidiBackend_linux.cpp, RtMidiBackend_win.cpp).
    static RtMidi::Api platformApi();
};
