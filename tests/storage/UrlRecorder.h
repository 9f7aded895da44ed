#pragma once

#include <QObject>
#include <QUrl>

// Stands in for the desktop's file browser: records the URLs handed to it (from whichever thread
// asks) and reports them on its own thread.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    UrlRecorder();
    ~UrlRecorder() override;

public slots:
    void open(const QUrl &url);

signals:
    void opened(QUrl url, bool onOtherThread);
};
