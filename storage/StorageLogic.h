#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Pure helpers of the device storage, kept free of I/O so they can be tested and fuzzed alone.

// Whole percentage of a copy, clamped to 0..100; 0 when the total is not positive.
int copyPercentage(qint64 copied, qint64 total);

// The name the update file is copied under before it is renamed to targetName: its own, unless
// that is the target itself in any letter case (FAT ignores case), which must not be overwritten
// before the rename has checked it.
QString copyNameOnVolume(const QString &fileName, const QString &targetName);

// The name of a /dev/disk/by-label link back to the label: udev writes unsafe bytes as "\xNN".
QString decodeUdevLabel(const QByteArray &linkName);
// The link name udev makes for a label (bytes that are not plain or valid UTF-8 become "\xNN").
QByteArray encodeUdevLabel(const QByteArray &label);

// "\\.\X:" for a drive root such as "X:/".
QString windowsDevicePath(const QString &rootPath);

// UDisks2 MountPoints (aay): each entry NUL-terminated; empty entries are dropped.
QStringList decodeMountPoints(const QList<QByteArray> &mountPoints);
// Whether two spellings name the same mount point ("/media/x/" and "/media/x").
bool sameMountPoint(const QString &a, const QString &b);
