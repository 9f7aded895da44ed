#pragma once

#include <QObject>
#include <QString>

// Turns the window's folder and DONE buttons into requests for the FileManager, which lives on
// the worker thread and is not visible to QML.
class FileManagerBridge : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    Q_INVOKABLE void openProjects();
    Q_INVOKABLE void openInstrumentDefinitions();
    Q_INVOKABLE void openMidiFiles();
    Q_INVOKABLE void openGrooves();
    Q_INVOKABLE void completeTransfer();
    Q_INVOKABLE void retryUpdate();

signals:
    void requestOpenFolder(QString deviceName, QString relativePath);
    void requestEjectDevice(QString deviceName);
    void requestUpdateRetry();
};
