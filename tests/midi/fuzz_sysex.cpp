// libFuzzer entry: any byte sequence is a MIDI message the input thread may be handed.
#include "midi/SysExMessage.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const SysExClassification result = classifySysEx(data, size);
    switch (result.kind) {
    case SysExKind::VersionReply:
        // The text is exactly the bytes between the three-byte header and F7.
        if (size < 9 || result.version.size() != size - 4 || data[size - 1] != 0xF7)
            abort();
        for (size_t i = 0; i < result.version.size(); ++i) {
            if (static_cast<unsigned char>(result.version[i]) != data[i + 3])
                abort();
        }
        break;
    case SysExKind::TransferStartAck:
    case SysExKind::TransferEndAck:
        if (size != 6 || !result.version.empty())
            abort();
        break;
    case SysExKind::Unrecognised:
        if (!result.version.empty())
            abort();
        break;
    }
    return 0;
}
