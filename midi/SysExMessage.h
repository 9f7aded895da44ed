#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Kept free of Qt so that the recogniser can be fuzzed and run on the MIDI input thread alone.

// One complete SysEx message, F0 first and F7 last.
using SysExMessage = std::vector<unsigned char>;

// Host-to-instrument messages.
extern const SysExMessage MIDI_SYSEX_VERSION_REQUEST;
extern const SysExMessage MIDI_SYSEX_TRANSFER_START;
extern const SysExMessage MIDI_SYSEX_TRANSFER_END;
extern const SysExMessage MIDI_SYSEX_UPDATE_MODE;
extern const SysExMessage MIDI_SYSEX_UPDATE_FINISH;

enum class SysExKind { VersionReply, TransferStartAck, TransferEndAck, Unrecognised };

struct SysExClassification
{
    SysExKind kind = SysExKind::Unrecognised;
    // Only for VersionReply: one character per byte, verbatim.
    std::string version;
};

SysExClassification classifySysEx(const unsigned char *bytes, std::size_t size);
SysExClassification classifySysEx(const std::vector<unsigned char> &message);

// The version reply the instrument sends for a given text (used by the simulated instrument).
SysExMessage makeVersionReply(const std::string &version);
