#pragma once

#include <string>

// What it takes for written data to be on the device itself, not only in the system's cache:
// an instrument that is unplugged after a failed dismount must still find a whole file. Paths
// are UTF-8. Qt-free so the Windows code compiles on its own.

// Opens (creates or truncates) a file for writing and returns a descriptor for QFile::open(int),
// or -1. Through a descriptor of our own, so the flush below has something to act on everywhere.
int openFileForFlushing(const std::string &path);
// For a descriptor that no QFile took over.
void closeFileDescriptor(int descriptor);

// Waits until everything written through the descriptor has reached the device.
bool flushFileToDevice(int descriptor);

// Makes the folder's entries (a rename in it) durable; true where the system has no such step.
bool flushDirectoryToDevice(const std::string &path);
