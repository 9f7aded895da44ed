// The real main.qml with the fonts registered and doubles as context objects, without the
// rest of the program: splits tovik-updater's start-up into window cost and program cost.

#include "WindowDoubles.h"
#include "app/Updater.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QUrl>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    registerWindowFonts();
    WindowDoubles doubles;
    QQmlApplicationEngine engine;
    doubles.install(&engine);
    engine.load(QUrl(QStringLiteral("qrc:/Tovik_App/main.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;
    return QGuiApplication::exec();
}
