#pragma once

#include "midi/UsbIds.h"

// The Linux lookup in its parts, so the tests and the benchmark can run it over fixture trees.

// Where the kernel publishes sound cards; tests point these at fixture trees.
struct LinuxSoundRoots
{
    QString proc = QStringLiteral("/proc");
    QString sys = QStringLiteral("/sys");
};

// Card number of an ALSA sequencer client, or -1 (user client, no sequencer, unknown client).
using AlsaCardOfClient = std::function<int(int client)>;

// "Tovik:Tovik MIDI 1 20:0" gives 20; -1 when the last token is not "client:port".
int alsaClientFromPortName(const QString &portName);
// Reads "<proc>/asound/cardN/usbid", else idVendor/idProduct of the USB device above
// "<sys>/class/sound/cardN/device"; ids come back as four upper-case hex digits.
bool readCardUsbIds(int card, const LinuxSoundRoots &roots, QString &vendorId, QString &productId);
bool findUsbIdsForAlsaPort(const QString &portName, QString &vendorId, QString &productId,
                           const LinuxSoundRoots &roots, const AlsaCardOfClient &cardOfClient);
// Asks the ALSA sequencer.
int alsaCardOfClient(int client);
