#include "WindowTestSetup.h"

#include "WindowFonts.h"

#include <QtQuickTest>

void WindowTestSetup::applicationAvailable()
{
    // Without the faces every metric in the layout checks would come from a fallback font.
    if (registerWindowFonts() != 3)
        qFatal("The bundled Poppins fonts did not load");
}

void WindowTestSetup::qmlEngineAvailable(QQmlEngine *engine)
{
    doubles.install(engine);
    doubles.registerSingleton();
}

QUICK_TEST_MAIN_WITH_SETUP(tst_window, WindowTestSetup)
