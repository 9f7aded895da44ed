#pragma once

#include <QObject>
#include <QString>

// Placeholder until the MIDI link lands: the declarations the window and main need.
class MidiHandler : public QObject
{
    Q_OBJECT
public:
    explicit MidiHandler(QObject *parent = nullptr);
    ~MidiHandler() override;

    Q_INVOKABLE void sendTransferSysEx();

signals:
    void deviceFound(bool isConnected);
    void tovikReceivedVersion(QString version);
    void deviceSetToTransferMode();
    void transferSysExReceived();
    void transferSysExEndReceived();
    void deviceReenumerationFinished(bool success);
    void updateTransferDone();

public slots:
    void fileDownloaded(bool success);
    void transferComplete(bool success);
    void onEjectCompleted(bool success);
};
