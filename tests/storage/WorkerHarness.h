#pragma once

#include "storage/FileManager.h"

#include <QDesktopServices>
#include <QThread>
#include <QUrl>

// A FileManager on a worker thread, wired as the program wires it (queued both ways), with the
// real seams unless given others. Also the desktop's file browser: records the URLs handed to it.
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
        QDesktopServices::setUrlHandler("file", this, "open");
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
        QDesktopServices::unsetUrlHandler("file");
        thread.quit();
        thread.wait();
    }

    // Lives on the worker thread: connect to it directly to act in the middle of its work.
    FileManager *fileManager;

public slots:
    void open(const QUrl &url)
    {
        const bool other = QThread::currentThread() != QObject::thread();
        QMetaObject::invokeMethod(
            this, [this, url, other] { emit opened(url, other); }, Qt::QueuedConnection);
    }

signals:
    void downloadFinished(bool success, QString updateFilePath, QString updateFileName);
    void deviceSetToTransferMode();
    void requestOpenFolder(QString deviceName, QString relativePath);
    void requestEjectDevice(QString deviceName);
    void fileTransferComplete(bool success);
    void copyProgress(int percentage);
    void ejectCompleted(bool success);
    void opened(QUrl url, bool onOtherThread);

private:
    QThread thread;
};
