#include "app/Updater.h"

#include <QFontDatabase>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

// Quick Test setup: the real window is loaded against doubles of its four context objects, which
// the test cases reach as "Doubles".
class WindowTestSetup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        registerWindowFonts();
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
        for (const char *name :
             {"midiHandler", "downloader", "mainController", "fileManagerBridge"})
            context->setContextProperty(QString::fromLatin1(name),
                                        doubles->property(name).value<QObject *>());
    }
};

QUICK_TEST_MAIN_WITH_SETUP(tst_window, WindowTestSetup)
#include "WindowTestSetup.moc"
