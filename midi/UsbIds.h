#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

// Which USB device stands behind a MIDI port. The matcher here is portable; only the listing of
// devices (UsbIds_win.cpp) or the card lookup (UsbIds_linux.cpp) is platform code.

// Maps a port name to the USB vendor and product id of its device; false when unknown.
using UsbIdLookup =
    std::function<bool(const QString &portName, QString &vendorId, QString &productId)>;

// One present media-class device as the platform lists it; an unreadable property is empty.
struct MediaDeviceEntry
{
    std::optional<QString> friendlyName;
    std::optional<QString> hardwareId;
};

// Trims, collapses blanks, drops a trailing " <number>" (the Windows backend's port index) and
// lower-cases, so a port name and its device's friendly name compare equal.
QString normalizePortName(const QString &name);

// "USB\VID_1D6B&PID_0104&MI_01" gives "1D6B" and "0104". False without a backslash; true
// otherwise, even when a piece is missing (the output then keeps its previous text).
bool parseHardwareId(const QString &hardwareId, QString &vendorId, QString &productId);

// The first device whose normalised friendly name equals the port's and whose hardware id
// parses decides the answer.
bool matchUsbIdsInDevices(const QString &portName, const std::vector<MediaDeviceEntry> &devices,
                          QString &vendorId, QString &productId);

bool matchesInstrumentIds(bool found, const QString &vendorId, const QString &productId);

// The platform lookup, in UsbIds_linux.cpp or UsbIds_win.cpp.
bool findUsbIdsForPort(const QString &portName, QString &vendorId, QString &productId);
