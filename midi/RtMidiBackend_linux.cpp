#include "midi/RtMidiBackend.h"

RtMidi::Api RtMidiBackend::platformApi()
{
    // Left unspecified, RtMidi falls back to JACK whenever ALSA lists no ports at start-up, and
    // an instrument plugged in later would never show up there.
    return RtMidi::LINUX_ALSA;
}
