#include "app/FileManagerBridge.h"
#include "app/MainController.h"
#include "diagnostics/Logging.h"
#include "midi/MidiHandler.h"
#include "release/Downloader.h"
#include "storage/FileManager.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QThread>
#include <QUrl>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tovik Updater v1.3.2"));
    app.setOrganizationName(QStringLiteral("Tovik-Instruments"));
    app.setOrganizationDomain(QStringLiteral("tovik-instruments.example"));
    app.setApplicationVersion(QStringLiteral("1.3.2"));

    initLogging(QStringLiteral("1.3.2"));

    QIcon icon(QStringLiteral(":/icons/icons/iosicon.png"));
    QGuiApplication::setWindowIcon(icon);
    // The window names the family "Poppins"; register ours so it never depends on the system.
    for (const char *font : {":/icons/font/Poppins-Regular.ttf", ":/icons/font/Poppins-SemiBold.ttf",
                             ":/icons/font/Poppins-Bold.ttf"})
        QFontDatabase::addApplicationFont(QString::fromLatin1(font));

    MidiHandler midiHandler(nullptr);
    Downloader downloader(nullptr);
    auto *fileManager = new FileManager(nullptr);
    MainController mainController;

    auto *workerThread = new QThread();
    fileManager->moveToThread(workerThread);
    workerThread->start();

    downloader.fetchReleasesJson();

    QObject::connect(workerThread, &QThread::finished, fileManager, &QObject::deleteLater);
    QObject::connect(workerThread, &QThread::finished, workerThread, &QObject::deleteLater);

    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("midiHandler"), &midiHandler);
    engine.rootContext()->setContextProperty(QStringLiteral("downloader"), &downloader);
    engine.rootContext()->setContextProperty(QStringLiteral("mainController"), &mainController);

    auto *fileManagerBridge = new FileManagerBridge();
    engine.rootContext()->setContextProperty(QStringLiteral("fileManagerBridge"),
                                             fileManagerBridge);

    const QUrl url(QStringLiteral("qrc:/Tovik_App/main.qml"), QUrl::TolerantMode);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject *obj, const QUrl &objUrl) {
            if (!obj && url == objUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);

    const int result = QGuiApplication::exec();

    workerThread->quit();
    workerThread->wait();
    return result;
}
