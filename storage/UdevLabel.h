#pragma once

#include <QByteArray>
#include <QString>

// The name of a /dev/disk/by-label link back to the label: udev writes unsafe bytes as "\xNN".
QString decodeUdevLabel(const QByteArray &linkName);
// The link name udev makes for a label (bytes that are not plain or valid UTF-8 become "\xNN").
QByteArray encodeUdevLabel(const QByteArray &label);
