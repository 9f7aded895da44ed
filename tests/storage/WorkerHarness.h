#pragma once

#include "storage/FileManager.h"

#include <QThread>
#include <QUrl>

// A FileManager on a worker thread, wired as the program wires it (queued both ways), with the
// real seams unless given others. Also the desktop's file browser: records the URLs handed to it.
class WorkerHarness : public QObject
{
    Q_OBJECT
public:
    explicit WorkerHarness(VolumeList *volumes = nullptr, VolumeDismounter *dismounter = nullptr);
    ~WorkerHarness() override;

public slots:
    void open(const QUrl &url);

signals:
    void downloadFinished(bool success, QString updateFilePath, QString updateFileName);
    void deviceSetToTransferMode();
    void requestOpenFolder(QString deviceName, QString relativePath);
    void requestEjectDevice(QString deviceName);
    void fileTransferComplete(bool success);
    void copyProgress(int percentage);
    void ejectCompleted(bool success);
    void opened(QUrl url, bool onOtherThread);

public:
    // Lives on the worker thread: connect to it directly to act in the middle of its work.
    FileManager *fileManager;

private:
    QThread thread;
};
