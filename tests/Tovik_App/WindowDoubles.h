#pragma once

#include "DownloaderDouble.h"
#include "FileManagerBridgeDouble.h"
#include "MainControllerDouble.h"
#include "MidiHandlerDouble.h"

#include <QObject>

class QQmlEngine;

// The four context objects of the window, as doubles, plus the way QML tests reach them: the
// singleton "Doubles" of the module "TovikTest" hands out the doubles and resets their records.
class WindowDoubles : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QObject *midiHandler READ midiHandlerObject CONSTANT)
    Q_PROPERTY(QObject *downloader READ downloaderObject CONSTANT)
    Q_PROPERTY(QObject *mainController READ mainControllerObject CONSTANT)
    Q_PROPERTY(QObject *fileManagerBridge READ fileManagerBridgeObject CONSTANT)
public:
    using QObject::QObject;

    // Sets the context properties the window expects, under their real names.
    void install(QQmlEngine *engine);
    // Makes this instance the QML singleton TovikTest.Doubles (once per process).
    void registerSingleton();

    Q_INVOKABLE void reset();

    MidiHandlerDouble midiHandler;
    DownloaderDouble downloader;
    MainControllerDouble mainController;
    FileManagerBridgeDouble fileManagerBridge;

private:
    QObject *midiHandlerObject();
    QObject *downloaderObject();
    QObject *mainControllerObject();
    QObject *fileManagerBridgeObject();
};
