#include "WorkerHarness.h"

#include "storage/FileManager.h"

WorkerHarness::WorkerHarness(VolumeList *volumes, VolumeDismounter *dismounter)
{
    fileManager = volumes ? new FileManager(volumes, dismounter) : new FileManager();
    fileManager->moveToThread(&thread);
    connect(&thread, &QThread::finished, fileManager, &QObject::deleteLater);
    thread.start();

    connect(this, &WorkerHarness::downloadFinished, fileManager, &FileManager::onDownloadFinished);
    connect(this, &WorkerHarness::deviceSetToTransferMode, fileManager,
            &FileManager::onDeviceSetToTransferMode);
    connect(this, &WorkerHarness::requestOpenFolder, fileManager, &FileManager::openFolderOnDevice,
            Qt::QueuedConnection);
    connect(this, &WorkerHarness::requestEjectDevice, fileManager, &FileManager::ejectDeviceAndEmit,
            Qt::QueuedConnection);
    connect(fileManager, &FileManager::fileTransferComplete, this,
            &WorkerHarness::fileTransferComplete);
    connect(fileManager, &FileManager::copyProgress, this, &WorkerHarness::copyProgress);
    connect(fileManager, &FileManager::ejectCompleted, this, &WorkerHarness::ejectCompleted,
            Qt::QueuedConnection);
}

WorkerHarness::~WorkerHarness()
{
    thread.quit();
    thread.wait();
}
