#pragma once

#include <QObject>

#include <memory>

class InstanceLock;
class QLocalServer;

// One run per user: a second one would poll the instrument too and could switch its mode in
// the middle of the first one's update. The first start holds the lock and listens; a later
// start asks it to show its window and ends, having touched nothing.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    SingleInstance();
    ~SingleInstance() override;

    // False when another run holds the lock; that run has then been asked for its window.
    bool claim();

signals:
    // A later start asked for the window.
    void windowRequested();

private:
    void onNewConnection();

    std::unique_ptr<InstanceLock> lock;
    QLocalServer *server = nullptr;
};

// Brings the program's shown windows to the front, as far as the desktop lets a program do so.
void bringWindowsToFront();
