#pragma once

#include "app/Updater.h"
#include "midi/SysExMessage.h"
#include "sim/world/SimulatedWorld.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

// The whole program in this process: the real start-up sequence, objects, connections and
// window, against the simulated world. Tests read what the window shows and click its buttons.
class Harness
{
public:
    explicit Harness(const SimulatedWorld::Options &options = SimulatedWorld::Options())
        : world(options)
    {
        registerWindowFonts();
        if (world.isValid())
            updater = std::make_unique<Updater>(world.parts());
    }

    ~Harness()
    {
        if (updater)
            updater->stopWorkerThread();
    }

    bool isReady() const
    {
        return world.isValid() && updater && !updater->engine().rootObjects().isEmpty();
    }

    QQuickWindow *window() const
    {
        return qobject_cast<QQuickWindow *>(updater->engine().rootObjects().value(0));
    }

    QQuickItem *item(const char *name) const
    {
        return window()->findChild<QQuickItem *>(QString::fromLatin1(name));
    }

    QObject *object(const char *name) const
    {
        return window()->findChild<QObject *>(QString::fromLatin1(name));
    }

    bool isShown(const char *name) const
    {
        QQuickItem *found = item(name);
        return found && found->isVisible();
    }

    QString text(const char *name) const
    {
        QQuickItem *found = item(name);
        return found ? found->property("text").toString() : QString();
    }

    QVariant windowProperty(const char *name) const { return window()->property(name); }

    QString indicator() const { return item("logoContainer")->property("labelText").toString(); }

    bool isConnected() const { return item("logoContainer")->property("connected").toBool(); }

    // A click as a user makes it: on the button's centre, which does nothing unless the button
    // is shown and enabled.
    bool click(const char *name) const
    {
        QQuickItem *button = item(name);
        if (!button || !button->isVisible() || !button->isEnabled())
            return false;
        pressOn(button);
        return true;
    }

    // A click on the spot where the item is drawn, whatever its state.
    void pressOn(QQuickItem *button) const
    {
        const QPointF centre =
            button->mapToScene(QPointF(button->width() / 2.0, button->height() / 2.0));
        QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

    int received(const SysExMessage &message) const
    {
        return world.instrument().receivedCount(SimulatedInstrument::bytes(message));
    }

    mutable SimulatedWorld world;
    std::unique_ptr<Updater> updater;
};

// A found instrument and a fetched catalogue take a few seconds; the flows take up to half a
// minute on a loaded machine.
inline constexpr int foundWithinMs = 20000;
inline constexpr int flowWithinMs = 60000;
