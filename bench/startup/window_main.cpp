// The real main.qml with the fonts registered and doubles as context objects, without the
// rest of the program: splits tovik-updater's start-up into window cost and program cost.

#include "app/Updater.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QUrl>

#include <memory>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    registerWindowFonts();
    QQmlApplicationEngine engine;
    // The window tests' doubles: the signals and invokables of the four context objects.
    QQmlComponent component(&engine, QUrl::fromLocalFile(TOVIK_WINDOW_DOUBLES));
    const std::unique_ptr<QObject> doubles(component.create());
    if (!doubles)
        return -1;
    for (const char *name : {"midiHandler", "downloader", "mainController", "fileManagerBridge"})
        engine.rootContext()->setContextProperty(QString::fromLatin1(name),
                                                 doubles->property(name).value<QObject *>());
    engine.load(QUrl(QStringLiteral("qrc:/Tovik_App/main.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;
    return QGuiApplication::exec();
}
