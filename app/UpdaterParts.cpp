#include "app/UpdaterParts.h"

#include "midi/MidiHandler.h"
#include "release/Downloader.h"
#include "storage/FileManager.h"

UpdaterParts realUpdaterParts()
{
    UpdaterParts parts;
    parts.makeMidiHandler = [] {
        return std::make_unique<MidiHandler>(nullptr);
    };
    parts.makeDownloader = [] {
        return std::make_unique<Downloader>(nullptr);
    };
    parts.makeFileManager = [] {
        return new FileManager(nullptr);
    };
    return parts;
}
