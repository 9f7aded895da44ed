#include "release/UpdateAvailabilityCheck.h"

#include "release/Downloader.h"

#include <QDebug>

void UpdateAvailabilityCheck::operator()() const
{
    if (!downloader->downloadUrl.isEmpty()) {
        qInfo() << "DW: Update available!";
        qInfo() << "DW: Update version: " << downloader->version;
    } else {
        qWarning() << "DW: No updates available!";
    }
}
