#include "midi/MediaDeviceList.h"

#include <windows.h>

#include <setupapi.h>

#include <cwchar>

namespace {

// {4d36e96c-e325-11ce-bfc1-08002be10318}: sound, video and game controllers.
const GUID mediaDeviceClass = {
    0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

constexpr DWORD propertyBufferBytes = 512;

// Reads one string property; for a multi-string only its first string is kept.
bool readStringProperty(HDEVINFO set, SP_DEVINFO_DATA &info, DWORD property, std::wstring &out)
{
    wchar_t buffer[propertyBufferBytes / sizeof(wchar_t)] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr,
                                           reinterpret_cast<PBYTE>(buffer), propertyBufferBytes,
                                           nullptr))
        return false;
    // The registry does not promise a terminator inside the buffer.
    const std::size_t capacity = sizeof(buffer) / sizeof(buffer[0]);
    out.assign(buffer, wcsnlen(buffer, capacity));
    return true;
}

// Destroys the set on every way out, an exception from a full heap included.
struct DeviceInfoSet
{
    HDEVINFO set;
    ~DeviceInfoSet() { SetupDiDestroyDeviceInfoList(set); }
};

} // namespace

bool listMediaDevices(std::vector<MediaDevice> &devices)
{
    devices.clear();
    HDEVINFO set = SetupDiGetClassDevsW(&mediaDeviceClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    const DeviceInfoSet owner{set};
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA info = {};
        info.cbSize = sizeof(SP_DEVINFO_DATA);
        if (!SetupDiEnumDeviceInfo(set, index, &info))
            break;
        MediaDevice device;
        device.hasFriendlyName =
            readStringProperty(set, info, SPDRP_FRIENDLYNAME, device.friendlyName);
        if (device.hasFriendlyName)
            device.hasHardwareId =
                readStringProperty(set, info, SPDRP_HARDWAREID, device.hardwareId);
        devices.push_back(device);
    }
    return true;
}
