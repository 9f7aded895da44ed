#pragma once

#include <string>
#include <vector>

// Present devices of the media class (sound, video and game controllers), in enumeration order.
// Qt-free so the Windows code compiles on its own.
struct MediaDevice
{
    bool hasFriendlyName = false;
    std::wstring friendlyName;
    bool hasHardwareId = false;
    std::wstring hardwareId; // the first string of the hardware-id list
};

// False when the device set cannot be opened.
bool listMediaDevices(std::vector<MediaDevice> &devices);
