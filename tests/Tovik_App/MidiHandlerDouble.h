#pragma once

#include "RecordingDouble.h"

#include <QString>

// Stands in for MidiHandler in front of the window: same signals and invokables, no MIDI.
class MidiHandlerDouble : public RecordingDouble
{
    Q_OBJECT
public:
    using RecordingDouble::RecordingDouble;

    Q_INVOKABLE void sendTransferSysEx() { record(QStringLiteral("sendTransferSysEx")); }

signals:
    void deviceFound(bool isConnected);
    void tovikReceivedVersion(QString version);
    void deviceSetToTransferMode();
    void transferSysExReceived();
    void transferSysExEndReceived();
    void deviceReenumerationFinished(bool success);
    void updateTransferDone();
};
