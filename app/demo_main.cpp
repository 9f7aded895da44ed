#include "app/Updater.h"
#include "sim/world/SimulatedWorld.h"

// The real window and objects against the simulated instrument, volumes and release server.
int main(int argc, char *argv[])
{
    return runUpdaterMain(argc, argv, [] {
        auto world = std::make_shared<SimulatedWorld>();
        if (!world->isValid())
            qFatal("The demo cannot start: %s", qPrintable(world->errorString()));
        UpdaterParts parts = world->parts();
        parts.keepAlive = world;
        return parts;
    });
}
