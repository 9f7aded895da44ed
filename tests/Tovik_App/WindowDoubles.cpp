#include "WindowDoubles.h"

#include <QQmlContext>
#include <QQmlEngine>

void WindowDoubles::install(QQmlEngine *engine)
{
    QQmlContext *context = engine->rootContext();
    context->setContextProperty(QStringLiteral("midiHandler"), &midiHandler);
    context->setContextProperty(QStringLiteral("downloader"), &downloader);
    context->setContextProperty(QStringLiteral("mainController"), &mainController);
    context->setContextProperty(QStringLiteral("fileManagerBridge"), &fileManagerBridge);
}

void WindowDoubles::registerSingleton()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    qmlRegisterSingletonInstance<WindowDoubles>("TovikTest", 1, 0, "Doubles", this);
}

void WindowDoubles::reset()
{
    midiHandler.clearCalls();
    downloader.clearCalls();
    mainController.clearCalls();
    fileManagerBridge.clearCalls();
}

QObject *WindowDoubles::midiHandlerObject()
{
    return &midiHandler;
}

QObject *WindowDoubles::downloaderObject()
{
    return &downloader;
}

QObject *WindowDoubles::mainControllerObject()
{
    return &mainController;
}

QObject *WindowDoubles::fileManagerBridgeObject()
{
    return &fileManagerBridge;
}
