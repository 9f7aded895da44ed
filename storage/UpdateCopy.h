#pragma once

#include <QString>
#include <QtGlobal>

// Whole percentage of a copy, clamped to 0..100; 0 when the total is not positive.
int copyPercentage(qint64 copied, qint64 total);

// The name the update file is copied under before it is renamed to targetName: its own, unless
// that is the target itself in any letter case (FAT ignores case), which must not be overwritten
// before the rename has checked it.
QString copyNameOnVolume(const QString &fileName, const QString &targetName);
