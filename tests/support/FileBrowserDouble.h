#pragma once

#include <QDesktopServices>
#include <QtTest>

// Stands in for the desktop's file browser while it exists: records each folder it is asked to
// show and the thread that asked.
class FileBrowserDouble : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QUrl url;
        QThread *thread;
    };

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
