#pragma once

#include <QGenericPlugin>

// Qt generic plugin "tovikbench": loaded into any Qt program by QT_QPA_GENERIC_PLUGINS, it
// installs a FrameWatcher.
class FirstFramePlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "FirstFramePlugin.json")
public:
    QObject *create(const QString &name, const QString &parameters) override;
};
