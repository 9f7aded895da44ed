#pragma once

#include "app/Updater.h"
#include "midi/MidiHandler.h"
#include "midi/SysExMessage.h"
#include "sim/world/SimulatedWorld.h"
#include "tests/support/SimulatedRig.h"
#include "tests/support/VolumeFaults.h"

#include <QQmlApplicationEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

// A found instrument and a fetched catalogue take a few seconds; the flows take up to half a
// minute on a loaded machine.
inline constexpr int foundWithinMs = 20000;
inline constexpr int flowWithinMs = 60000;

inline QQuickItem *findItem(QQuickWindow *window, const char *name)
{
    return window ? window->findChild<QQuickItem *>(QString::fromLatin1(name)) : nullptr;
}

// A click as a user makes it: on the item's centre, which does nothing unless the item is shown
// and enabled.
inline bool clickItem(QQuickWindow *window, const char *name)
{
    QQuickItem *button = findItem(window, name);
    if (!button || !button->isVisible() || !button->isEnabled())
        return false;
    const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

// The whole program in this process: the real start-up sequence, objects, connections and
// window, against the simulated world. Tests read what the window shows and click its buttons.
class Harness
{
public:
    // The catalogue rule is in place before the program asks for the catalogue.
    explicit Harness(const SimulatedWorld::Options &worldOptions = SimulatedWorld::Options(),
                     const ServeRule &catalogueRule = ServeRule())
        : options(worldOptions)
        , world(worldOptions)
    {
        world.server().setRule(QStringLiteral("releases.json"), catalogueRule);
        registerWindowFonts();
        if (world.isValid())
            updater = std::make_unique<Updater>(updaterPartsFrom(world));
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

    QQuickItem *item(const char *name) const { return findItem(window(), name); }

    bool isShown(const char *name) const { return item(name) && item(name)->isVisible(); }
    QString text(const char *name) const
    {
        return QQmlProperty::read(item(name), "text").toString();
    }

    QVariant windowProperty(const char *name) const { return window()->property(name); }

    QString indicator() const { return item("logoContainer")->property("labelText").toString(); }

    bool isConnected() const { return item("logoContainer")->property("connected").toBool(); }

    bool click(const char *name) const { return clickItem(window(), name); }

    int received(const SysExMessage &message) const
    {
        return sent.receivedCount(SimulatedInstrument::bytes(message));
    }

    // What is drawn outside the window at its smallest, its largest and two sizes between (a
    // text as far as it is drawn); empty when everything fits.
    QString layoutProblems() const
    {
        QStringList problems;
        const QSize shown = window()->size();
        for (const QSize size :
             {QSize(360, 750), QSize(540, 1080), QSize(540, 750), QSize(450, 800), shown}) {
            window()->resize(size);
            if (!QTest::qWaitFor([&] { return window()->contentItem()->size() == QSizeF(size); }))
                return QStringLiteral("the window did not take the size");
            const QRectF inside = QRectF(QPointF(), size).adjusted(-0.5, -0.5, 0.5, 0.5);
            for (QQuickItem *element : window()->findChildren<QQuickItem *>()) {
                const QString name = element->objectName();
                if (name.isEmpty() || !element->isVisible())
                    continue;
                if (!inside.contains(element->mapRectToScene(element->boundingRect())))
                    problems << QStringLiteral("%1 at %2x%3")
                                    .arg(name)
                                    .arg(size.width())
                                    .arg(size.height());
            }
        }
        return problems.join(QStringLiteral(", "));
    }

    SimulatedWorld::Options options;
    mutable SimulatedWorld world;
    // What the instrument's bus took, from the world's start.
    MidiBusFaults sent{world.instrument().bus()};
    VolumeFaults volumeFaults{world.volumes()};
    std::unique_ptr<Updater> updater;
};

#define QVERIFY_LAYOUT(h)                                                                          \
    do {                                                                                           \
        const QString problems = (h).layoutProblems();                                             \
        QVERIFY2(problems.isEmpty(), qPrintable(problems));                                        \
    } while (false)

// Found, version answered, catalogue shown: the Home screen with the newest version known.
inline void reachHome(Harness &h)
{
    QVERIFY(h.isReady());
    QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is connected"), foundWithinMs);
    QTRY_COMPARE_WITH_TIMEOUT(h.windowProperty("deviceVersion").toString(),
                              h.world.instrument().version(), foundWithinMs);
    QTRY_COMPARE_WITH_TIMEOUT(h.text("versionText"),
                              "The latest available version is Tvx" + h.options.latestVersion,
                              foundWithinMs);
    QVERIFY(h.isShown("updateButton"));
}
