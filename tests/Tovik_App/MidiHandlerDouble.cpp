#include "MidiHandlerDouble.h"

void MidiHandlerDouble::sendTransferSysEx()
{
    record(QStringLiteral("sendTransferSysEx"));
}
