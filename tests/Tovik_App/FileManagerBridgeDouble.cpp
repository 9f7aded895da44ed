#include "FileManagerBridgeDouble.h"

void FileManagerBridgeDouble::openProjects()
{
    record(QStringLiteral("openProjects"));
}

void FileManagerBridgeDouble::openInstrumentDefinitions()
{
    record(QStringLiteral("openInstrumentDefinitions"));
}

void FileManagerBridgeDouble::openMidiFiles()
{
    record(QStringLiteral("openMidiFiles"));
}

void FileManagerBridgeDouble::openGrooves()
{
    record(QStringLiteral("openGrooves"));
}

void FileManagerBridgeDouble::completeTransfer()
{
    record(QStringLiteral("completeTransfer"));
}
