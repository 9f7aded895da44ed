#include "release/Downloader.h"

Downloader::Downloader(QObject *parent) : QObject(parent) {}
void Downloader::fetchReleasesJson() {}
void Downloader::downloadFile() {}
void Downloader::tovikReceivedVersion(QString) {}
