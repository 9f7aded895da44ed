#include "app/FileManagerBridge.h"

namespace {
// The instrument's storage is mounted under this label in transfer mode.
QString transferVolumeName()
{
    return QString::fromUtf8("TOVIK");
}
} // namespace

void FileManagerBridge::openProjects()
{
    emit requestOpenFolder(transferVolumeName(), QString::fromUtf8("projects"));
}

void FileManagerBridge::openInstrumentDefinitions()
{
    emit requestOpenFolder(transferVolumeName(), QString::fromUtf8("instrument_definitions"));
}

void FileManagerBridge::openMidiFiles()
{
    emit requestOpenFolder(transferVolumeName(), QString::fromUtf8("MIDI_Clips"));
}

void FileManagerBridge::openGrooves()
{
    emit requestOpenFolder(transferVolumeName(), QString::fromUtf8("grooves"));
}

void FileManagerBridge::completeTransfer()
{
    emit requestEjectDevice(transferVolumeName());
}

void FileManagerBridge::retryUpdate()
{
    emit requestUpdateRetry();
}
