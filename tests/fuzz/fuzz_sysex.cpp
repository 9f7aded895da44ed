// libFuzzer entry: any byte sequence is a MIDI message the input thread may be handed. The
// oracle spells the byte rules out itself: the two confirmations are exact six-byte messages, a
// version reply is F0 7D 01, at least five bytes of text, and F7.
#include "midi/SysExMessage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const uint8_t startAck[] = {0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7};
    static const uint8_t endAck[] = {0xF0, 0x7E, 0x7F, 0x09, 0x04, 0xF7};
    const bool reply = size >= 9 && data[0] == 0xF0 && data[1] == 0x7D && data[2] == 0x01 &&
                       data[size - 1] == 0xF7;
    const SysExKind expected =
        reply                                              ? SysExKind::VersionReply
        : size == 6 && std::memcmp(data, startAck, 6) == 0 ? SysExKind::TransferStartAck
        : size == 6 && std::memcmp(data, endAck, 6) == 0   ? SysExKind::TransferEndAck
                                                           : SysExKind::Unrecognised;
    const SysExClassification result = classifySysEx(data, size);
    if (result.kind != expected ||
        result.version != (reply ? std::string(data + 3, data + size - 1) : std::string()))
        abort();
    return 0;
}
