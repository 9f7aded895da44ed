#pragma once

#include <QObject>
#include <QThread>
#include <QUrl>

class FileManager;
class VolumeDismounter;
class VolumeList;

// A FileManager on a worker thread, wired as the program wires it (queued both ways). It also
// stands in for the desktop's file browser, recording the URLs it is handed. Without seams the
// FileManager uses the real ones of the system.
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

private:
    QThread thread;
};
