// libFuzzer entry: any byte sequence is a MIDI message the input thread may be handed.
#include "midi/SysExMessage.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const SysExClassification result = classifySysEx(data, size);
    // A version is exactly the bytes between the three-byte header and F7; acks are six bytes.
    const bool ok =
        result.kind == SysExKind::VersionReply
            ? size >= 9 && data[size - 1] == 0xF7 &&
                  result.version == std::string(data + 3, data + size - 1)
            : result.version.empty() && (result.kind == SysExKind::Unrecognised || size == 6);
    if (!ok)
        abort();
    return 0;
}
