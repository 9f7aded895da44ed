#pragma once

#include <QDesktopServices>
#include <QtTest>

// Stands in for the desktop's file browser while it exists: records each folder it is asked to
// show and the thread that asked.
class FileBrowserDouble : public QObject
{
    Q_OBJECT
public:
    using Request = std::pair<QUrl, QThread *>; // the folder, and the thread that asked

    FileBrowserDouble() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~FileBrowserDouble() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    QList<Request> requests() const
    {
        QMutexLocker lock(&mutex);
        return recorded;
    }

public slots:
    void open(const QUrl &url)
    {
        QMutexLocker lock(&mutex);
        recorded.append({url, QThread::currentThread()});
    }

private:
    mutable QMutex mutex;
    QList<Request> recorded;
};
