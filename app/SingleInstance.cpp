#include "app/SingleInstance.h"

#include "app/InstanceLock.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWindow>

namespace {
// A local connection is made or refused at once; this only bounds a holder that hangs.
constexpr int askHolderMs = 1000;
} // namespace

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    // Named after the executable, so the demo and the tests never stand in the program's way.
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    const QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    lock = std::make_unique<InstanceLock>(QFile::encodeName(runtimeDir).toStdString(),
                                          QFile::encodeName(program).toStdString());
    const QString channel = QFile::decodeName(lock->channelName().c_str());

    switch (lock->state()) {
    case InstanceLock::State::Unavailable:
        qWarning().noquote() << "App: No single-instance lock, starting unguarded:"
                             << QString::fromStdString(lock->error());
        return true;
    case InstanceLock::State::HeldByAnother: {
        qInfo("App: Tovik Updater is already running for this user; asking it to show its window "
              "and ending this start");
        InstanceLock::letHolderComeForward();
        QLocalSocket holder;
        holder.connectToServer(channel);
        if (holder.waitForConnected(askHolderMs)) {
            holder.write("show\n");
            holder.waitForBytesWritten(askHolderMs);
            holder.disconnectFromServer();
        } else {
            qWarning().noquote() << "App: The running Tovik Updater did not answer:"
                                 << holder.errorString();
        }
        return false;
    }
    case InstanceLock::State::Held:
        break;
    }

    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Only a run that held the lock can have left the socket behind, and it is gone.
    QLocalServer::removeServer(channel);
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!server->listen(channel))
        qWarning().noquote() << "App: A later start cannot ask for the window:"
                             << server->errorString();
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        qInfo("App: Started again; bringing the window to the front");
        emit windowRequested();
    }
}

void bringWindowsToFront()
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible())
            continue;
        window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
        window->raise();
        window->requestActivate();
    }
}
