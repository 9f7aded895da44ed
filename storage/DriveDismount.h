#pragma once

#include <string>

// Locks and dismounts the volume behind a device path such as "\\.\E:". Qt-free so the Windows
// code compiles on its own. True when the file system let go of the device; a lock that is
// refused (a program still has a file open on the volume) is a failed dismount.
bool dismountDrive(const std::wstring &devicePath);
