#pragma once

#include <string>

// Locks and dismounts the volume behind a device path such as "\\.\E:". Qt-free so the Windows
// code compiles on its own. True when the file system let go of the device.
bool dismountDrive(const std::wstring &devicePath);
