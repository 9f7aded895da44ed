#include "DownloaderDouble.h"

void DownloaderDouble::downloadFile()
{
    record(QStringLiteral("downloadFile"));
}
