#include "midi/MidiHandler.h"

MidiHandler::MidiHandler(QObject *parent) : QObject(parent) {}
MidiHandler::~MidiHandler() = default;
void MidiHandler::sendTransferSysEx() {}
void MidiHandler::fileDownloaded(bool) {}
void MidiHandler::transferComplete(bool) {}
void MidiHandler::onEjectCompleted(bool) {}
