#pragma once

#include <QObject>

// Carries the update copy's progress and result, the eject's result and the update volume's
// presence, from the worker thread
// to the window. It has no source of its own: the FileManager's signals are connected to these.
class MainController : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void fileTransferComplete(bool success);
    void copyingFileProgress(int percentage);
    void ejectCompleted(bool success);
    void updateVolumeMounted(bool mounted);
};
