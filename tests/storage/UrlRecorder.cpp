#include "UrlRecorder.h"

#include <QDesktopServices>
#include <QThread>

UrlRecorder::UrlRecorder()
{
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
}

UrlRecorder::~UrlRecorder()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void UrlRecorder::open(const QUrl &url)
{
    const bool other = QThread::currentThread() != thread();
    QMetaObject::invokeMethod(
        this, [this, url, other] { emit opened(url, other); }, Qt::QueuedConnection);
}
