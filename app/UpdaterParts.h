#pragma once

#include <QUrl>

#include <functional>
#include <memory>

class Downloader;
class FileManager;
class MidiHandler;
class QQmlApplicationEngine;

// What differs between the real program and the demo: the objects behind the platform seams.
// The start-up sequence, the connections and the window are the same for both.
struct UpdaterParts
{
    std::function<std::unique_ptr<MidiHandler>()> makeMidiHandler;
    std::function<std::unique_ptr<Downloader>()> makeDownloader;
    // The FileManager is handed to the worker thread, which frees it when it finishes.
    std::function<FileManager *()> makeFileManager;
    QUrl mainQmlUrl{QStringLiteral("qrc:/Tovik_App/main.qml"), QUrl::TolerantMode};
    // Runs once the window has been loaded (the demo and the tests use it; the program does not).
    std::function<void(QQmlApplicationEngine &)> afterLoad;
    // Whatever the parts depend on (the demo's simulated world); released after the objects.
    std::shared_ptr<void> keepAlive;
};

// The parts of the real program: RtMidi, QStorageInfo, the desktop's dismount, our release server.
UpdaterParts realUpdaterParts();

// The parts made by another source of the three objects (the demo's simulated world), which
// must outlive them; what that source is stays out of the program.
template<typename Source> UpdaterParts updaterPartsFrom(Source &source)
{
    UpdaterParts parts;
    parts.makeMidiHandler = [&source] {
        return source.makeMidiHandler();
    };
    parts.makeDownloader = [&source] {
        return source.makeDownloader();
    };
    parts.makeFileManager = [&source] {
        return source.makeFileManager();
    };
    return parts;
}
