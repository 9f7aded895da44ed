#include "app/Updater.h"

#include "app/AccessibleControl.h"
#include "app/AppIdentity.h"
#include "app/FileManagerBridge.h"
#include "app/MainController.h"
#include "app/SingleInstance.h"
#include "diagnostics/CrashHandler.h"
#include "diagnostics/Logging.h"
#include "midi/MidiHandler.h"
#include "release/Downloader.h"
#include "release/UpdateAvailabilityCheck.h"
#include "storage/FileManager.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>

Updater::Updater(const UpdaterParts &parts)
{
    createObjects(parts);
    startWorkerThread();
    requestCatalogue();
    connectObjects();
    createEngine();
    createBridge();
    connectRecovery();
    followUpdateFinish();
    loadWindow(parts);
}

void Updater::createObjects(const UpdaterParts &parts)
{
    midi = parts.makeMidiHandler();
    release = parts.makeDownloader();
    storage = parts.makeFileManager();
    controller = std::make_unique<MainController>();
}

void Updater::startWorkerThread()
{
    worker = new QThread();
    storage->moveToThread(worker);
    // A stack overflow on the worker thread must still leave a report.
    QObject::connect(worker, &QThread::started, worker, &prepareThreadForCrashHandling,
                     Qt::DirectConnection);
    worker->start();
}

void Updater::requestCatalogue()
{
    QObject::connect(release.get(), &Downloader::releasesJsonFetched, release.get(),
                     UpdateAvailabilityCheck{release.get()}, Qt::DirectConnection);
    release->fetchReleasesJson();
}

void Updater::connectObjects()
{
    QObject::connect(midi.get(), &MidiHandler::tovikReceivedVersion, release.get(),
                     &Downloader::tovikReceivedVersion);
    QObject::connect(release.get(), &Downloader::downloadFinished, storage,
                     &FileManager::onDownloadFinished);
    QObject::connect(release.get(), &Downloader::setDeviceToTransferMode, midi.get(),
                     &MidiHandler::fileDownloaded);
    QObject::connect(midi.get(), &MidiHandler::deviceSetToTransferMode, storage,
                     &FileManager::onDeviceSetToTransferMode);
    QObject::connect(storage, &FileManager::fileTransferComplete, midi.get(),
                     &MidiHandler::transferComplete);
    QObject::connect(storage, &FileManager::ejectCompleted, midi.get(),
                     &MidiHandler::onEjectCompleted, Qt::QueuedConnection);
    QObject::connect(storage, &FileManager::fileTransferComplete, controller.get(),
                     &MainController::fileTransferComplete);
    QObject::connect(storage, &FileManager::copyProgress, controller.get(),
                     &MainController::copyingFileProgress);
    // After a successful copy the instrument's next version report confirms the update.
    QObject::connect(storage, &FileManager::fileTransferComplete, release.get(),
                     &Downloader::onFileTransferComplete);
    // The window keeps the user in transfer mode when the eject failed.
    QObject::connect(storage, &FileManager::ejectCompleted, controller.get(),
                     &MainController::ejectCompleted);
    QObject::connect(worker, &QThread::finished, storage, &QObject::deleteLater);
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
}

void Updater::createEngine()
{
    qmlEngine = std::make_unique<QQmlApplicationEngine>();
    QQmlContext *context = qmlEngine->rootContext();
    context->setContextProperty(QStringLiteral("midiHandler"), midi.get());
    context->setContextProperty(QStringLiteral("downloader"), release.get());
    context->setContextProperty(QStringLiteral("mainController"), controller.get());
}

void Updater::createBridge()
{
    bridge = std::make_unique<FileManagerBridge>();
    qmlEngine->rootContext()->setContextProperty(QStringLiteral("fileManagerBridge"), bridge.get());

    QObject::connect(bridge.get(), &FileManagerBridge::requestOpenFolder, storage,
                     &FileManager::openFolderOnDevice, Qt::QueuedConnection);
    QObject::connect(bridge.get(), &FileManagerBridge::requestEjectDevice, storage,
                     &FileManager::ejectDeviceAndEmit, Qt::QueuedConnection);
}

void Updater::connectRecovery()
{
    QObject::connect(storage, &FileManager::updateVolumeMounted, controller.get(),
                     &MainController::updateVolumeMounted);
    QObject::connect(bridge.get(), &FileManagerBridge::requestUpdateRetry, storage,
                     &FileManager::retryUpdateTransfer, Qt::QueuedConnection);
    QMetaObject::invokeMethod(storage, &FileManager::watchUpdateVolume, Qt::QueuedConnection);
}

void Updater::followUpdateFinish()
{
    QObject::connect(midi.get(), &MidiHandler::updateTransferDone, midi.get(), [this] {
        updateFinishing = true;
        updateFinishOwed = false;
        sinceCopy.start();
    });
    // A sequence that did not find the instrument leaves the message owed: it goes out when the
    // instrument is back.
    QObject::connect(midi.get(), &MidiHandler::deviceReenumerationFinished, midi.get(),
                     [this](bool success) {
                         updateFinishOwed = updateFinishing && !success;
                         updateFinishing = updateFinishOwed;
                     });
    QObject::connect(midi.get(), &MidiHandler::owedSysExSent, midi.get(),
                     [this] { updateFinishing = false; });
}

void Updater::loadWindow(const UpdaterParts &parts)
{
    url = parts.mainQmlUrl;
    QObject::connect(
        qmlEngine.get(), &QQmlApplicationEngine::objectCreated, QCoreApplication::instance(),
        [expected = url](QObject *object, const QUrl &objectUrl) {
            if (!object && expected == objectUrl) {
                reportStartupFailure(QStringLiteral("The window could not be created from ") +
                                     objectUrl.toString());
                QCoreApplication::exit(-1);
            }
        },
        Qt::QueuedConnection);
    qmlEngine->load(url);
    if (parts.afterLoad)
        parts.afterLoad(*qmlEngine);
}

Updater::~Updater()
{
    stopWorkerThread();
    url = QUrl();
    qmlEngine.reset();
    // The window may still reach the bridge while it is torn down, so the bridge goes after it.
    bridge.reset();
    controller.reset();
    release.reset();
    midi.reset();
}

void Updater::stopWorkerThread()
{
    if (!worker)
        return;
    worker->quit();
    worker->wait();
    worker = nullptr;
    storage = nullptr;
    // The thread object lives here; its deleteLater needs one more pass of this thread's queue.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int Updater::runEventLoop()
{
    const int result = QGuiApplication::exec();
    if (result != 0 || !updateFinishing)
        return result;
    // The window told the user the application may be closed: the instrument still gets its
    // message, by the same event loop run once more without a window.
    logTrace(QStringLiteral("exit: window hidden until the update-finish messages are sent"));
    for (QWindow *window : QGuiApplication::topLevelWindows())
        window->hide();
    QTimer limit;
    limit.setSingleShot(true);
    // A coarse timer may fire 5 % early.
    limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&limit, &QTimer::timeout, QCoreApplication::instance(),
                     &QCoreApplication::quit);
    const auto quitWhenSent = [this] {
        if (!updateFinishing)
            QCoreApplication::quit();
    };
    const QMetaObject::Connection ended =
        QObject::connect(midi.get(), &MidiHandler::deviceReenumerationFinished,
                         QCoreApplication::instance(), quitWhenSent);
    const QMetaObject::Connection owedSent = QObject::connect(
        midi.get(), &MidiHandler::owedSysExSent, QCoreApplication::instance(), quitWhenSent);
    limit.start(std::max<qint64>(0, MidiLink::updateFinishLimitMs - sinceCopy.elapsed()));
    QGuiApplication::exec();
    QObject::disconnect(ended);
    QObject::disconnect(owedSent);
    logTrace(updateFinishing    ? QStringLiteral("exit: gave up waiting for the update finish")
             : updateFinishOwed ? QStringLiteral("exit: update-finish message sent on return")
                                : QStringLiteral("exit: update-finish sequence ended"));
    return result;
}

void registerWindowFonts()
{
    // Every text of the window names "Poppins"; ours are registered so it never depends on the
    // fonts a user happens to have installed.
    for (const char *font : {":/icons/font/Poppins-Regular.ttf",
                             ":/icons/font/Poppins-SemiBold.ttf", ":/icons/font/Poppins-Bold.ttf"})
        QFontDatabase::addApplicationFont(QString::fromLatin1(font));
}

int runUpdaterMain(int argc, char *argv[], const std::function<UpdaterParts()> &makeParts)
{
    QGuiApplication app(argc, argv);
    app.setApplicationName(QLatin1String(appName));
    app.setOrganizationName(QStringLiteral("Tovik-Instruments"));
    app.setOrganizationDomain(QStringLiteral("tovik-instruments.example"));
    app.setApplicationVersion(QLatin1String(appVersion));
    QGuiApplication::setDesktopFileName(QLatin1String(appDesktopFileName));

    initLogging(QLatin1String(appVersion));
    setupWerLocalDumps();

    SingleInstance instance;
    if (!instance.claim())
        return 0;

    const QIcon icon(QStringLiteral(":/icons/icons/iosicon.png"));
    QGuiApplication::setWindowIcon(icon);
    registerWindowFonts();
    AccessibleControl::install();

    const UpdaterParts parts = makeParts();
    Updater updater(parts);
    QObject::connect(&instance, &SingleInstance::windowRequested, &app, &bringWindowsToFront);
    const int result = updater.runEventLoop();
    updater.stopWorkerThread();
    return result;
}
