#pragma once

#include <QString>

// Dotted versions as the instrument and the catalogue give them ("1.5.0", "1.10.2-beta").

// -1, 0 or 1, part by part as numbers: 1.10.0 > 1.5.0, 1.6 = 1.6.0, 1.5.0-beta = 1.5.0. A part
// reads its leading digits (after blanks) and ignores the rest; a missing part counts as 0, and a
// part without leading digits compares equal to anything. Numbers of any length compare exactly.
int compareFirmwareVersions(const QString &left, const QString &right);

// Whether the text says which version it is: its first part starts with a digit.
bool isKnownFirmwareVersion(const QString &version);
