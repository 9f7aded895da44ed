#include "app/AccessibleControl.h"
#include "app/Updater.h"

#include <QAccessible>
#include <QFontDatabase>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

// What assistive technology gets of the window, read through QAccessible (as "Accessibility").
class AccessibilityReader : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    Q_INVOKABLE QVariantMap describe(QObject *object) const
    {
        QAccessibleInterface *node = QAccessible::queryAccessibleInterface(object);
        if (!node)
            return {};
        const QAccessible::State state = node->state();
        QVariantMap found{{"role", int(node->role())},
                          {"name", node->text(QAccessible::Name)},
                          {"description", node->text(QAccessible::Description)},
                          {"disabled", bool(state.disabled)},
                          {"focused", bool(state.focused)}};
        if (QAccessibleValueInterface *value = node->valueInterface())
            found.insert({{"value", value->currentValue()},
                          {"range", QVariantList{value->minimumValue(), value->maximumValue()}}});
        return found;
    }
    // The object names of the nodes shown, depth first, as a screen reader walks the tree.
    Q_INVOKABLE QStringList shown(QObject *object) const
    {
        QStringList names;
        QAccessibleInterface *node = QAccessible::queryAccessibleInterface(object);
        for (int i = 0; node && i < node->childCount(); ++i) {
            QAccessibleInterface *child = node->child(i);
            if (child->state().invisible)
                continue;
            names << child->object()->objectName() << shown(child->object());
        }
        return names;
    }
};

// Quick Test setup: the real window is loaded against doubles of its four context objects, which
// the test cases reach as "Doubles".
class WindowTestSetup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        registerWindowFonts();
        // As when a screen reader runs (the offscreen platform has no bridge to switch it on).
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        AccessibleControl::install();
        if (QFontDatabase::styles(QStringLiteral("Poppins")).size() < 3)
            qFatal("The bundled Poppins fonts did not load");
    }
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        QQmlComponent component(engine, QUrl::fromLocalFile(TOVIK_WINDOW_DOUBLES));
        QObject *doubles = component.create();
        if (!doubles)
            qFatal("%s", qPrintable(component.errorString()));
        doubles->setParent(engine);
        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("Doubles"), doubles);
        context->setContextProperty(QStringLiteral("Accessibility"),
                                    new AccessibilityReader(engine));
        for (const char *name :
             {"midiHandler", "downloader", "mainController", "fileManagerBridge"})
            context->setContextProperty(QString::fromLatin1(name),
                                        doubles->property(name).value<QObject *>());
    }
};

QUICK_TEST_MAIN_WITH_SETUP(tst_window, WindowTestSetup)
#include "WindowTestSetup.moc"
