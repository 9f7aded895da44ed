#include "midi/RtMidiBackend.h"

RtMidi::Api RtMidiBackend::platformApi()
{
    // RtMidi's default here is the Multimedia MIDI API.
    return RtMidi::UNSPECIFIED;
}
