// Minimal Qt Quick Controls window in the Material style: the start-up floor that
// tovik-updater is compared against.

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QUrl>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Material"));
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/floor/FloorWindow.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;
    return QGuiApplication::exec();
}
