#pragma once

#include "midi/MidiBackend.h"

#include <memory>

class SimulatedMidiBus;

// MIDI port objects over the simulated bus, behaving as RtMidi's do: errors go to the error
// callback when one is set (otherwise errors above the warnings are thrown), input arrives on a
// thread of its own, SysEx/timing/sensing are ignored until ignoreTypes says otherwise.
class SimulatedMidiBackend : public MidiBackend
{
public:
    explicit SimulatedMidiBackend(std::shared_ptr<SimulatedMidiBus> bus);

    std::unique_ptr<MidiInPort> createInput(const std::string &clientName,
                                            unsigned int queueSizeLimit) override;
    std::unique_ptr<MidiOutPort> createOutput(const std::string &clientName) override;

private:
    std::shared_ptr<SimulatedMidiBus> bus;
};
