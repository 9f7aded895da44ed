#pragma once

#include "storage/FileManager.h"
#include "tests/support/FileBrowserDouble.h"

#include <QtTest>

// A FileManager on a worker thread, wired as the program wires it (queued both ways), with the
// real seams unless given others, and a double of the desktop's file browser.
class WorkerHarness : public QObject
{
    Q_OBJECT
public:
    explicit WorkerHarness(VolumeList *volumes = nullptr, VolumeDismounter *dismounter = nullptr)
        : fileManager(volumes ? new FileManager(volumes, dismounter) : new FileManager())
    {
        fileManager->moveToThread(&thread);
        connect(&thread, &QThread::finished, fileManager, &QObject::deleteLater);
        thread.start();
        connect(this, &WorkerHarness::downloadFinished, fileManager,
                &FileManager::onDownloadFinished);
        connect(this, &WorkerHarness::deviceSetToTransferMode, fileManager,
                &FileManager::onDeviceSetToTransferMode);
        connect(this, &WorkerHarness::requestOpenFolder, fileManager,
                &FileManager::openFolderOnDevice);
        connect(this, &WorkerHarness::requestEjectDevice, fileManager,
                &FileManager::ejectDeviceAndEmit);
        connect(fileManager, &FileManager::fileTransferComplete, this,
                &WorkerHarness::fileTransferComplete);
        connect(fileManager, &FileManager::copyProgress, this, &WorkerHarness::copyProgress);
        connect(fileManager, &FileManager::ejectCompleted, this, &WorkerHarness::ejectCompleted);
    }
    ~WorkerHarness() override
    {
        thread.quit();
        thread.wait();
    }

    // Lives on the worker thread: connect to it directly to act in the middle of its work.
    FileManager *fileManager;
    QThread thread;
    FileBrowserDouble browser;

signals:
    void downloadFinished(bool success, QString updateFilePath, QString updateFileName);
    void deviceSetToTransferMode();
    void requestOpenFolder(QString deviceName, QString relativePath);
    void requestEjectDevice(QString deviceName);
    void fileTransferComplete(bool success);
    void copyProgress(int percentage);
    void ejectCompleted(bool success);
};
