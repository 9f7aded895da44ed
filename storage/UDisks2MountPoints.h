#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// UDisks2 MountPoints (aay): each entry NUL-terminated; empty entries are dropped.
QStringList decodeMountPoints(const QList<QByteArray> &mountPoints);
// Whether two spellings name the same mount point ("/media/x/" and "/media/x").
bool sameMountPoint(const QString &a, const QString &b);
