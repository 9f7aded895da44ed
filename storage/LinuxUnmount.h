#pragma once

#include <QString>

// Unmounts the file system mounted at rootPath through UDisks2 on the given D-Bus (empty: the
// system bus); without a UDisks2 service, and as root, through umount2. True only when the
// mount is gone afterwards. Blocks the calling thread for at most the D-Bus timeouts.
bool unmountLinuxVolume(const QString &rootPath, const QString &busAddress);
