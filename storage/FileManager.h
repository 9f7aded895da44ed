#pragma once

#include <QObject>
#include <QString>

// Placeholder until device storage lands: the declarations main needs.
class FileManager : public QObject
{
    Q_OBJECT
public:
    explicit FileManager(QObject *parent = nullptr);

signals:
    void fileTransferComplete(bool success);
    void copyProgress(int percentage);
    void ejectCompleted(bool success);

public slots:
    void onDownloadFinished(bool success, QString updateFilePath, QString updateFileName);
    void onDeviceSetToTransferMode();
    void openFolderOnDevice(QString deviceName, QString relativePath);
    void ejectDeviceAndEmit(QString deviceName);
};
