#pragma once

#include "RecordingDouble.h"

#include <QString>

// Stands in for FileManagerBridge: records which folder or eject request the window made.
class FileManagerBridgeDouble : public RecordingDouble
{
    Q_OBJECT
public:
    using RecordingDouble::RecordingDouble;

    Q_INVOKABLE void openProjects() { record(QStringLiteral("openProjects")); }
    Q_INVOKABLE void openInstrumentDefinitions()
    {
        record(QStringLiteral("openInstrumentDefinitions"));
    }
    Q_INVOKABLE void openMidiFiles() { record(QStringLiteral("openMidiFiles")); }
    Q_INVOKABLE void openGrooves() { record(QStringLiteral("openGrooves")); }
    Q_INVOKABLE void completeTransfer() { record(QStringLiteral("completeTransfer")); }

signals:
    void requestOpenFolder(QString deviceName, QString relativePath);
    void requestEjectDevice(QString deviceName);
};
