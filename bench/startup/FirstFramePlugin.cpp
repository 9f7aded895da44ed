#include "FirstFramePlugin.h"

#include "FrameWatcher.h"

QObject *FirstFramePlugin::create(const QString &name, const QString &)
{
    if (name.compare(QLatin1String("tovikbench"), Qt::CaseInsensitive) != 0)
        return nullptr;
    return new FrameWatcher();
}
