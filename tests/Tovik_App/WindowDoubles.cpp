#include "WindowDoubles.h"

#include "app/Updater.h"

#include <QFontDatabase>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

QQuickItem *findItem(QQuickItem *parent, const QString &name)
{
    const auto children = parent->childItems();
    for (QQuickItem *child : children) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

} // namespace

bool WindowDoubles::registerFonts()
{
    registerWindowFonts();
    const QStringList styles = QFontDatabase::styles(QStringLiteral("Poppins"));
    return styles.contains(QStringLiteral("Regular")) && styles.contains(QStringLiteral("Bold")) &&
           styles.contains(QStringLiteral("SemiBold"));
}

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
    if (!registered)
        qmlRegisterSingletonInstance<WindowDoubles>("TovikTest", 1, 0, "Doubles", this);
    registered = true;
}

QQuickWindow *WindowDoubles::loadWindow(QQmlApplicationEngine &engine)
{
    install(&engine);
    engine.load(QUrl(QStringLiteral("qrc:/Tovik_App/main.qml")));
    const auto roots = engine.rootObjects();
    return roots.size() == 1 ? qobject_cast<QQuickWindow *>(roots.first()) : nullptr;
}

QObject *WindowDoubles::item(QQuickWindow *window, const QString &name)
{
    return findItem(window->contentItem(), name);
}
