#include "midi/UsbIds.h"

#include "midi/MediaDeviceList.h"

bool findUsbIdsForPort(const QString &portName, QString &vendorId, QString &productId)
{
    std::vector<MediaDevice> listed;
    if (!listMediaDevices(listed))
        return false;
    std::vector<MediaDeviceEntry> devices;
    devices.reserve(listed.size());
    for (const MediaDevice &device : listed) {
        MediaDeviceEntry entry;
        if (device.hasFriendlyName)
            entry.friendlyName = QString::fromStdWString(device.friendlyName);
        if (device.hasHardwareId)
            entry.hardwareId = QString::fromStdWString(device.hardwareId);
        devices.push_back(entry);
    }
    return matchUsbIdsInDevices(portName, devices, vendorId, productId);
}
