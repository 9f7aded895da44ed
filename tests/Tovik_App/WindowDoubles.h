#pragma once

#include "DownloaderDouble.h"
#include "FileManagerBridgeDouble.h"
#include "MainControllerDouble.h"
#include "MidiHandlerDouble.h"

#include <QObject>

class QQmlEngine;
class QQmlApplicationEngine;
class QQuickWindow;

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

    // Registers the bundled Poppins faces as the program does; true if all three are there.
    static bool registerFonts();
    // Sets the context properties the window expects, under their real names.
    void install(QQmlEngine *engine);
    // Makes this instance the QML singleton TovikTest.Doubles (once per process).
    void registerSingleton();
    // Installs the doubles and loads the real main.qml; null if it did not load.
    QQuickWindow *loadWindow(QQmlApplicationEngine &engine);
    // A named item of the window, searched through visual children.
    static QObject *item(QQuickWindow *window, const QString &name);

    Q_INVOKABLE void reset()
    {
        for (RecordingDouble *d : std::initializer_list<RecordingDouble *>{
                 &midiHandler, &downloader, &mainController, &fileManagerBridge})
            d->calls.clear();
    }

    MidiHandlerDouble midiHandler;
    DownloaderDouble downloader;
    MainControllerDouble mainController;
    FileManagerBridgeDouble fileManagerBridge;

private:
    QObject *midiHandlerObject() { return &midiHandler; }
    QObject *downloaderObject() { return &downloader; }
    QObject *mainControllerObject() { return &mainController; }
    QObject *fileManagerBridgeObject() { return &fileManagerBridge; }
};
