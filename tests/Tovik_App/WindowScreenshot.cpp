// Renders main.qml, driven through the doubles of its context objects, into one PNG per state.
// Usage: window_screenshot <output folder>

#include "WindowDoubles.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace {

// Drives a fresh window into the numbered state; false if a button was missing.
bool drive(int state, WindowDoubles &d, QQuickWindow *window)
{
    const auto click = [window](const char *name) {
        QObject *button = WindowDoubles::item(window, QLatin1String(name));
        return button && QMetaObject::invokeMethod(button, "clicked");
    };
    bool ok = true;
    if (state >= 1) {
        emit d.midiHandler.deviceFound(true);
        emit d.midiHandler.tovikReceivedVersion(QStringLiteral("1.5.2"));
        emit d.downloader.latestVersionFetched(QStringLiteral("1.6.0"));
    }
    if (state >= 2 && state <= 5)
        ok = click("updateButton");
    if (state >= 3 && state <= 5) {
        ok = ok && click("startUpdateButton");
        emit d.downloader.downloadingProgressBar(42);
    }
    if (state >= 4 && state <= 5)
        emit d.mainController.copyingFileProgress(81);
    if (state == 5)
        emit d.mainController.fileTransferComplete(true);
    if (state >= 6) {
        ok = click("transferButton");
        emit d.midiHandler.transferSysExReceived();
    }
    if (state == 7)
        emit d.midiHandler.deviceFound(false);
    return ok;
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
    if (!QDir().mkpath(outDir) || !WindowDoubles::registerFonts()) {
        std::fprintf(stderr, "cannot create %s or load the Poppins fonts\n", argv[1]);
        return 1;
    }

    const char *const names[] = {
        "searching",       "home",          "update-prompt",        "downloading", "copying",
        "update-complete", "transfer-mode", "transfer-disconnected"};
    int failures = 0;
    for (int state = 0; state < 8; ++state) {
        WindowDoubles doubles;
        QQmlApplicationEngine engine;
        QQuickWindow *window = doubles.loadWindow(engine);
        if (!window) {
            std::fprintf(stderr, "main.qml did not load\n");
            return 1;
        }
        const bool driven = drive(state, doubles, window);
        // Let images load and the scene settle before grabbing.
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
        const QImage image = window->grabWindow();
        const QString path = outDir + QLatin1Char('/') + QLatin1String(names[state]) + ".png";
        if (!driven || image.isNull() || !image.save(path)) {
            std::fprintf(stderr, "%s: could not drive, grab or save the window\n", names[state]);
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return failures == 0 ? 0 : 1;
}
