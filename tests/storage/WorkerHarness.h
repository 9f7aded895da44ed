#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>

class FileManager;
class VolumeDismounter;
class VolumeList;

// A FileManager on a worker thread of its own, wired as the program wires it: requests go out
// as signals of this object (queued across the threads) and results come back as its own
// signals, re-emitted on the test's thread. Without seams it uses the real ones of the system.
class WorkerHarness : public QObject
{
    Q_OBJECT
public:
    explicit WorkerHarness(VolumeList *volumes = nullptr, VolumeDismounter *dismounter = nullptr);
    ~WorkerHarness() override;

    QThread *workerThread() { return &thread; }

signals:
    // towards the FileManager
    void downloadFinished(bool success, QString updateFilePath, QString updateFileName);
    void deviceSetToTransferMode();
    void requestOpenFolder(QString deviceName, QString relativePath);
    void requestEjectDevice(QString deviceName);
    // back from it
    void fileTransferComplete(bool success);
    void copyProgress(int percentage);
    void ejectCompleted(bool success);

private:
    QThread thread;
    FileManager *fileManager = nullptr;
};
