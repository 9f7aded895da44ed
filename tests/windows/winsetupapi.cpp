// The program's listing of media-class devices (midi/MediaDeviceList_win.cpp) under Wine's
// SetupAPI, with devices of our own registered in the prefix first. Stand-ins in the program's
// imports count the device-info sets it opens and destroys, and refuse the set once.

#include "WinCheck.h"
#include "midi/MediaDeviceList.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" decltype(&SetupDiGetClassDevsW) __imp_SetupDiGetClassDevsW;
extern "C" decltype(&SetupDiDestroyDeviceInfoList) __imp_SetupDiDestroyDeviceInfoList;

namespace {

const GUID mediaClass = {
    0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

bool refuseSet = false;
int openSets = 0;
decltype(&SetupDiGetClassDevsW) realGetClassDevs = nullptr;
decltype(&SetupDiDestroyDeviceInfoList) realDestroy = nullptr;

HDEVINFO WINAPI getClassDevs(const GUID *deviceClass, PCWSTR enumerator, HWND parent, DWORD flags)
{
    if (refuseSet) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const HDEVINFO set = realGetClassDevs(deviceClass, enumerator, parent, flags);
    openSets += set != INVALID_HANDLE_VALUE ? 1 : 0;
    return set;
}

BOOL WINAPI destroy(HDEVINFO set)
{
    --openSets;
    return realDestroy(set);
}

struct Device
{
    const char *row;
    std::wstring name;        // empty: none set
    std::wstring hardwareIds; // a multi-string, empty: none set
    std::wstring listed;      // what the listing must say of it
};

std::wstring describe(const MediaDevice &device)
{
    return (device.hasFriendlyName ? L"name '" + device.friendlyName + L"'" : L"no name") +
           (device.hasHardwareId ? L", id '" + device.hardwareId + L"'" : L", no id");
}

void setProperty(HDEVINFO set, SP_DEVINFO_DATA &info, DWORD property, const std::wstring &text)
{
    if (!text.empty())
        SetupDiSetDeviceRegistryPropertyW(set, &info, property,
                                          reinterpret_cast<const BYTE *>(text.c_str()),
                                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

} // namespace

int main()
{
    const std::wstring longest(255, L'n'); // with its terminator, the whole 512-byte buffer
    using namespace std::string_literals;
    const Device devices[] = {
        {"the instrument", L"Tovik MIDI", L"USB\\VID_1D6B&PID_0104&MI_01\0USB\\VID_1D6B\0"s,
         L"name 'Tovik MIDI', id 'USB\\VID_1D6B&PID_0104&MI_01'"},
        {"no hardware id", L"Tovik Synth", L"", L"name 'Tovik Synth', no id"},
        // Its hardware id is never asked for.
        {"no friendly name", L"", L"USB\\VID_0582&PID_0001\0"s, L"no name, no id"},
        {"a name filling the buffer", longest, L"ROOT\\A\0"s,
         L"name '" + longest + L"', id 'ROOT\\A'"},
        {"a name longer than the buffer", longest + L"n", L"ROOT\\B\0"s, L"no name, no id"},
    };

    std::vector<MediaDevice> before;
    WIN_CHECK(listMediaDevices(before), "the listing before");
    const HDEVINFO registry = SetupDiCreateDeviceInfoList(&mediaClass, nullptr);
    for (const Device &device : devices) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        WIN_CHECK(SetupDiCreateDeviceInfoW(registry, L"MEDIA", &mediaClass, nullptr, nullptr,
                                           DICD_GENERATE_ID, &info),
                  device.row);
        setProperty(registry, info, SPDRP_FRIENDLYNAME, device.name);
        setProperty(registry, info, SPDRP_HARDWAREID, device.hardwareIds);
        WIN_CHECK(SetupDiRegisterDeviceInfo(registry, &info, 0, nullptr, nullptr, nullptr),
                  device.row);
    }
    SetupDiDestroyDeviceInfoList(registry);

    realGetClassDevs = replaceImport(__imp_SetupDiGetClassDevsW, getClassDevs);
    realDestroy = replaceImport(__imp_SetupDiDestroyDeviceInfoList, destroy);
    std::vector<MediaDevice> after;
    WIN_CHECK(listMediaDevices(after), "the listing");
    WIN_CHECK(openSets == 0, "the device-info set is destroyed");
    // Every device of ours once, as registered, beside the ones that were there before.
    std::vector<std::wstring> listed;
    for (const MediaDevice &device : after)
        listed.push_back(describe(device));
    const auto take = [&listed](const std::wstring &description) {
        const auto found = std::find(listed.begin(), listed.end(), description);
        return found != listed.end() && (listed.erase(found), true);
    };
    for (const MediaDevice &device : before)
        WIN_CHECK(take(describe(device)), "a device that was there before");
    for (const Device &device : devices)
        WIN_CHECK(take(device.listed), device.row);
    WIN_CHECK(listed.empty(), "nothing else listed");

    refuseSet = true;
    WIN_CHECK(!listMediaDevices(after) && after.empty() && openSets == 0, "set refused");
    return summary(static_cast<int>(sizeof devices / sizeof devices[0]) + 1);
}
