#include "WindowDoubles.h"

#include <QtQuickTest>

// Quick Test setup: the real window is loaded against doubles of its four context objects.
class WindowTestSetup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        if (!WindowDoubles::registerFonts())
            qFatal("The bundled Poppins fonts did not load");
    }
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        doubles.install(engine);
        doubles.registerSingleton();
    }

private:
    WindowDoubles doubles;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_window, WindowTestSetup)
#include "WindowTestSetup.moc"
