#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>

class QNetworkReply;

// Gives a reply up when it gets fewer than minimumBytesPerSecond over transferInactivityLimitMs,
// as curl's --speed-limit does: a server that drips a byte now and then resets the inactivity
// limit for ever.
class MinimumSpeedWatch : public QObject
{
    Q_OBJECT
public:
    // Watches the reply until it finishes; a child of the reply, released with it. `what` names
    // the request in the log line.
    static void watch(QNetworkReply *reply, const QString &what);

private:
    MinimumSpeedWatch(QNetworkReply *reply, const QString &what);
    void onDownloadProgress(qint64 received, qint64 total);
    void check();

    QNetworkReply *reply;
    QString what;
    QTimer timer;
    QElapsedTimer clock;
    qint64 received = 0;
    // Bytes received at moments of the request, the oldest within the limit first.
    QList<QPair<qint64, qint64>> samples{{0, 0}};
};
