#include "WorkerHarness.h"

#include <QDesktopServices>

WorkerHarness::WorkerHarness(VolumeList *volumes, VolumeDismounter *dismounter)
    : fileManager(volumes ? new FileManager(volumes, dismounter) : new FileManager())
{
    fileManager->moveToThread(&thread);
    connect(&thread, &QThread::finished, fileManager, &QObject::deleteLater);
    thread.start();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");

    connect(this, &WorkerHarness::downloadFinished, fileManager, &FileManager::onDownloadFinished);
    connect(this, &WorkerHarness::deviceSetToTransferMode, fileManager,
            &FileManager::onDeviceSetToTransferMode);
    connect(this, &WorkerHarness::requestOpenFolder, fileManager, &FileManager::openFolderOnDevice);
    connect(this, &WorkerHarness::requestEjectDevice, fileManager,
            &FileManager::ejectDeviceAndEmit);
    connect(fileManager, &FileManager::fileTransferComplete, this,
            &WorkerHarness::fileTransferComplete);
    connect(fileManager, &FileManager::copyProgress, this, &WorkerHarness::copyProgress);
    connect(fileManager, &FileManager::ejectCompleted, this, &WorkerHarness::ejectCompleted);
}

WorkerHarness::~WorkerHarness()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    thread.quit();
    thread.wait();
}

void WorkerHarness::open(const QUrl &url)
{
    const bool other = QThread::currentThread() != QObject::thread();
    QMetaObject::invokeMethod(
        this, [this, url, other] { emit opened(url, other); }, Qt::QueuedConnection);
}
