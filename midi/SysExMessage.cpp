#include "midi/SysExMessage.h"

const SysExMessage MIDI_SYSEX_VERSION_REQUEST = {0xF0, 0x00, 0x03, 0x01, 0x02, 0x01, 0xF7};
const SysExMessage MIDI_SYSEX_TRANSFER_START = {0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7};
const SysExMessage MIDI_SYSEX_TRANSFER_END = {0xF0, 0x7E, 0x7F, 0x09, 0x04, 0xF7};
const SysExMessage MIDI_SYSEX_UPDATE_MODE = {0xF0, 0x00, 0x01, 0x03, 0x01, 0x01, 0xF7};
const SysExMessage MIDI_SYSEX_UPDATE_FINISH = {0xF0, 0x00, 0x01, 0x03, 0x01, 0x02, 0xF7};

namespace {

constexpr unsigned char sysExStart = 0xF0;
constexpr unsigned char sysExEnd = 0xF7;
constexpr unsigned char nonCommercialId = 0x7D;
constexpr unsigned char versionReplyCommand = 0x01;
// Length of a reply carrying a five-character text; shorter ones never reach the host.
constexpr std::size_t minVersionReplySize = 9;
constexpr std::size_t transferAckSize = 6;

bool equalsAck(const unsigned char *bytes, std::size_t size, const SysExMessage &ack)
{
    if (size != ack.size())
        return false;
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != ack[i])
            return false;
    }
    return true;
}

} // namespace

SysExClassification classifySysEx(const unsigned char *bytes, std::size_t size)
{
    SysExClassification result;
    if (bytes == nullptr || size == 0 || bytes[0] != sysExStart)
        return result;
    if (size >= minVersionReplySize && bytes[1] == nonCommercialId &&
        bytes[2] == versionReplyCommand && bytes[size - 1] == sysExEnd) {
        result.kind = SysExKind::VersionReply;
        result.version.assign(reinterpret_cast<const char *>(bytes + 3), size - 4);
        return result;
    }
    if (size == transferAckSize) {
        if (equalsAck(bytes, size, MIDI_SYSEX_TRANSFER_START))
            result.kind = SysExKind::TransferStartAck;
        else if (equalsAck(bytes, size, MIDI_SYSEX_TRANSFER_END))
            result.kind = SysExKind::TransferEndAck;
    }
    return result;
}

SysExClassification classifySysEx(const std::vector<unsigned char> &message)
{
    return classifySysEx(message.data(), message.size());
}

SysExMessage makeVersionReply(const std::string &version)
{
    SysExMessage reply;
    reply.reserve(version.size() + 4);
    reply.push_back(sysExStart);
    reply.push_back(nonCommercialId);
    reply.push_back(versionReplyCommand);
    for (const char c : version)
        reply.push_back(static_cast<unsigned char>(c));
    reply.push_back(sysExEnd);
    return reply;
}
