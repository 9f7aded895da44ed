// Renders main.qml, driven through the doubles of its context objects, into one PNG per state.
// Usage: window_screenshot <output folder>

#include "WindowDoubles.h"
#include "WindowFonts.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Visual children, depth first: QML parents items visually, not always as QObjects.
QQuickItem *findItem(QQuickItem *parent, const QString &name)
{
    const auto children = parent->childItems();
    for (QQuickItem *child : children) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

QObject *findNamed(QQuickWindow *window, const char *name)
{
    return findItem(window->contentItem(), QString::fromLatin1(name));
}

bool click(QQuickWindow *window, const char *name)
{
    QObject *button = findNamed(window, name);
    return button && QMetaObject::invokeMethod(button, "clicked");
}

struct Shot
{
    const char *name;
    std::function<bool(WindowDoubles &, QQuickWindow *)> drive;
};

bool home(WindowDoubles &d, QQuickWindow *)
{
    emit d.midiHandler.deviceFound(true);
    emit d.midiHandler.tovikReceivedVersion(QStringLiteral("1.5.2"));
    emit d.downloader.latestVersionFetched(QStringLiteral("1.6.0"));
    return true;
}

bool updatePrompt(WindowDoubles &d, QQuickWindow *w)
{
    return home(d, w) && click(w, "updateButton");
}

bool downloading(WindowDoubles &d, QQuickWindow *w)
{
    if (!updatePrompt(d, w) || !click(w, "startUpdateButton"))
        return false;
    emit d.downloader.downloadingProgressBar(42);
    return true;
}

bool copying(WindowDoubles &d, QQuickWindow *w)
{
    if (!downloading(d, w))
        return false;
    emit d.mainController.copyingFileProgress(81);
    return true;
}

bool updateComplete(WindowDoubles &d, QQuickWindow *w)
{
    if (!copying(d, w))
        return false;
    emit d.mainController.fileTransferComplete(true);
    return true;
}

bool transferMode(WindowDoubles &d, QQuickWindow *w)
{
    if (!home(d, w) || !click(w, "transferButton"))
        return false;
    emit d.midiHandler.transferSysExReceived();
    return true;
}

bool transferDisconnected(WindowDoubles &d, QQuickWindow *w)
{
    if (!transferMode(d, w))
        return false;
    emit d.midiHandler.deviceFound(false);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tovik Updater v1.3.2"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    if (registerWindowFonts() != 3) {
        std::fprintf(stderr, "the Poppins fonts did not load\n");
        return 1;
    }

    const Shot shots[] = {
        {"searching",
         [](WindowDoubles &, QQuickWindow *) {
             return true;
         }},
        {"home", home},
        {"update-prompt", updatePrompt},
        {"downloading", downloading},
        {"copying", copying},
        {"update-complete", updateComplete},
        {"transfer-mode", transferMode},
        {"transfer-disconnected", transferDisconnected},
    };

    int failures = 0;
    for (const Shot &shot : shots) {
        WindowDoubles doubles;
        QQmlApplicationEngine engine;
        doubles.install(&engine);
        engine.load(QUrl(QStringLiteral("qrc:/Tovik_App/main.qml")));
        auto *window = engine.rootObjects().isEmpty()
                           ? nullptr
                           : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        if (!window) {
            std::fprintf(stderr, "main.qml did not load\n");
            return 1;
        }
        if (!shot.drive(doubles, window)) {
            std::fprintf(stderr, "%s: could not drive the window\n", shot.name);
            ++failures;
            continue;
        }
        // Let images load and the scene settle before grabbing.
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
        const QImage image = window->grabWindow();
        const QString path = outDir + QLatin1Char('/') + QLatin1String(shot.name) + ".png";
        if (image.isNull() || !image.save(path)) {
            std::fprintf(stderr, "%s: grab or save failed\n", shot.name);
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return failures == 0 ? 0 : 1;
}
