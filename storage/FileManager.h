#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QTimer;
class VolumeList;
class VolumeDismounter;

// Everything that touches the instrument's storage: waits for the update volume, copies the
// update file onto it, renames and dismounts it; opens and ejects the transfer volume. Lives on
// the worker thread, so the blocking file and device work never holds up the window.
class FileManager : public QObject
{
    Q_OBJECT
public:
    explicit FileManager(QObject *parent = nullptr);
    // Other sources of volumes and another way to dismount; neither is owned and both must
    // outlive this object and be safe to call from its thread.
    FileManager(VolumeList *volumes, VolumeDismounter *dismounter, QObject *parent = nullptr);
    ~FileManager() override;

signals:
    void fileTransferComplete(bool success);
    void copyProgress(int percentage);
    void ejectCompleted(bool success);
    // The update volume appeared or went; reported on every change once watched.
    void updateVolumeMounted(bool mounted);

public slots:
    void onDownloadFinished(bool success, const QString &updateFilePath,
                            const QString &updateFileName);
    void onDeviceSetToTransferMode();
    void openFolderOnDevice(const QString &deviceName, const QString &relativePath);
    void ejectDeviceAndEmit(const QString &deviceName);
    // Looks for the update volume now and then once a second for the rest of the run: an
    // instrument left in update mode by an interrupted update waits for its file there.
    void watchUpdateVolume();
    // The user's next try after a failed update transfer, with the file already received.
    void retryUpdateTransfer();

private:
    void checkUpdateVolume();
    // Ends a try in failure, after telling whether the volume is still there to try again.
    void failUpdateTransfer();
    bool isVolumeMounted(const QString &displayName) const;
    // Read-only volumes take no copy but can still be dismounted.
    QString findVolumeRootPath(const QString &displayName, bool writableOnly = true) const;
    void transferUpdateFile();
    // The update's last step, after a copy and rename or for a file already in place.
    void dismountUpdateVolume();
    bool copyFileToVolume(const QString &displayName, const QString &sourcePath);
    bool renameFileOnVolume(const QString &displayName, const QString &oldName,
                            const QString &newName);
    bool ejectVolume(const QString &displayName);

    QString updateFilePath;
    QString updateFileName;
    qint32 volumeRetryCount = 0;
    // From the first update transfer on, an update volume is this run's update.
    bool updateStarted = false;
    int updateTries = 0;
    bool updateVolumeSeen = false;
    // The last try renamed the file on the volume, so only the dismount is left to do.
    bool updateFileInPlace = false;
    QTimer *updateVolumeWatch = nullptr;

    std::unique_ptr<VolumeList> ownedVolumes;
    std::unique_ptr<VolumeDismounter> ownedDismounter;
    VolumeList *volumes = nullptr;
    VolumeDismounter *dismounter = nullptr;
};
