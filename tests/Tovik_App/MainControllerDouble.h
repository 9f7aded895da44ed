#pragma once

#include "RecordingDouble.h"

// Stands in for MainController: the copy's progress and result, emitted by the test.
class MainControllerDouble : public RecordingDouble
{
    Q_OBJECT
public:
    using RecordingDouble::RecordingDouble;

signals:
    void fileTransferComplete(bool success);
    void copyingFileProgress(int percentage);
};
