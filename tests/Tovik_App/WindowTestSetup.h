#pragma once

#include "WindowDoubles.h"

#include <QObject>

class QQmlEngine;

// Quick Test setup: the real window is loaded against doubles of its four context objects.
class WindowTestSetup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable();
    void qmlEngineAvailable(QQmlEngine *engine);

private:
    WindowDoubles doubles;
};
