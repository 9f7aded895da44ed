#pragma once

#include "app/UpdaterParts.h"

#include <QElapsedTimer>
#include <QUrl>

#include <memory>

class FileManagerBridge;
class MainController;
class QQmlApplicationEngine;
class QThread;

// Everything main owns between the start of the log and the end of the event loop: the objects,
// the worker thread, their connections and the window. Members are declared in the order of
// creation, so they are destroyed in the reverse order.
class Updater
{
public:
    explicit Updater(const UpdaterParts &parts);
    ~Updater();
    Updater(const Updater &) = delete;
    Updater &operator=(const Updater &) = delete;

    MidiHandler &midiHandler() const { return *midi; }
    Downloader &downloader() const { return *release; }
    MainController &mainController() const { return *controller; }
    FileManagerBridge &fileManagerBridge() const { return *bridge; }
    QQmlApplicationEngine &engine() const { return *qmlEngine; }
    QThread &workerThread() const { return *worker; }

    // Asks the worker thread to stop and waits for it, so the FileManager is freed with it.
    void stopWorkerThread();

    // The application's event loop, until EXIT or the window is closed; after a successful
    // copy it runs on with the window hidden until the instrument has been sent its
    // update-finish messages, never longer than that sequence takes.
    int runEventLoop();

private:
    // The start-up steps, in the order the constructor runs them.
    void createObjects(const UpdaterParts &parts);
    // The FileManager moves there before the thread starts and before anything connects to it.
    void startWorkerThread();
    void requestCatalogue();
    void connectObjects();
    void createEngine();
    void createBridge();
    // The update volume's presence for the window, TRY AGAIN and the watch for that volume.
    void connectRecovery();
    // Notes, for runEventLoop, when the update-finish sequence after a copy starts and ends.
    void followUpdateFinish();
    void loadWindow(const UpdaterParts &parts);

    std::unique_ptr<MidiHandler> midi;
    std::unique_ptr<Downloader> release;
    FileManager *storage = nullptr;
    std::unique_ptr<MainController> controller;
    QThread *worker = nullptr;
    std::unique_ptr<QQmlApplicationEngine> qmlEngine;
    std::unique_ptr<FileManagerBridge> bridge;
    QUrl url;
    // From the successful copy until the sequence that sends the update-finish message ends,
    // or, when it gave up, until the instrument is back and has been sent it.
    bool updateFinishing = false;
    bool updateFinishOwed = false;
    QElapsedTimer sinceCopy;
};

// The three Poppins faces from the resources, for the window's font family.
void registerWindowFonts();

// The whole program around an Updater: application identity, log, icon, fonts, event loop.
int runUpdaterMain(int argc, char *argv[], const std::function<UpdaterParts()> &makeParts);
