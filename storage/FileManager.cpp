#include "storage/FileManager.h"

FileManager::FileManager(QObject *parent) : QObject(parent) {}
void FileManager::onDownloadFinished(bool, QString, QString) {}
void FileManager::onDeviceSetToTransferMode() {}
void FileManager::openFolderOnDevice(QString, QString) {}
void FileManager::ejectDeviceAndEmit(QString) {}
