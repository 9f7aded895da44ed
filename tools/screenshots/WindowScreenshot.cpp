// Renders main.qml, driven through the doubles of its context objects
// (tests/Tovik_App/WindowDoubles.qml), into one PNG per state.
// Usage: window_screenshot <output folder>

#include "app/Updater.h"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace {

struct Doubles
{
    QObject *midiHandler;
    QObject *downloader;
    QObject *mainController;
};

// Drives a fresh window into the numbered state; false if a button was missing.
bool drive(int state, const Doubles &d, QQuickWindow *window)
{
    const auto click = [window](const char *name) {
        QObject *button = window->findChild<QQuickItem *>(QLatin1String(name));
        return button && QMetaObject::invokeMethod(button, "clicked");
    };
    bool ok = true;
    if (state >= 1) {
        QMetaObject::invokeMethod(d.midiHandler, "deviceFound", Q_ARG(bool, true));
        QMetaObject::invokeMethod(d.midiHandler, "tovikReceivedVersion",
                                  Q_ARG(QString, QStringLiteral("1.5.2")));
        QMetaObject::invokeMethod(d.downloader, "latestVersionFetched",
                                  Q_ARG(QString, QStringLiteral("1.6.0")));
    }
    if (state >= 2 && state <= 5)
        ok = click("updateButton");
    if (state >= 3 && state <= 5) {
        ok = ok && click("startUpdateButton");
        QMetaObject::invokeMethod(d.downloader, "downloadingProgressBar", Q_ARG(double, 42));
    }
    if (state >= 4 && state <= 5)
        QMetaObject::invokeMethod(d.mainController, "copyingFileProgress", Q_ARG(int, 81));
    if (state == 5)
        QMetaObject::invokeMethod(d.mainController, "fileTransferComplete", Q_ARG(bool, true));
    if (state >= 6) {
        ok = click("transferButton");
        QMetaObject::invokeMethod(d.midiHandler, "transferSysExReceived");
    }
    if (state == 7)
        QMetaObject::invokeMethod(d.midiHandler, "deviceFound", Q_ARG(bool, false));
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
    registerWindowFonts();
    if (!QDir().mkpath(outDir) || QFontDatabase::styles(QStringLiteral("Poppins")).size() < 3) {
        std::fprintf(stderr, "cannot create %s or load the Poppins fonts\n", argv[1]);
        return 1;
    }

    const char *const names[] = {
        "searching",       "home",          "update-prompt",        "downloading", "copying",
        "update-complete", "transfer-mode", "transfer-disconnected"};
    int failures = 0;
    for (int state = 0; state < 8; ++state) {
        QQmlApplicationEngine engine;
        QQmlComponent component(&engine, QUrl::fromLocalFile(TOVIK_WINDOW_DOUBLES));
        std::unique_ptr<QObject> doubles(component.create());
        if (!doubles) {
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            return 1;
        }
        for (const char *name :
             {"midiHandler", "downloader", "mainController", "fileManagerBridge"})
            engine.rootContext()->setContextProperty(QString::fromLatin1(name),
                                                     doubles->property(name).value<QObject *>());
        engine.load(QUrl(QStringLiteral("qrc:/Tovik_App/main.qml")));
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        if (!window) {
            std::fprintf(stderr, "main.qml did not load\n");
            return 1;
        }
        const Doubles d{doubles->property("midiHandler").value<QObject *>(),
                        doubles->property("downloader").value<QObject *>(),
                        doubles->property("mainController").value<QObject *>()};
        const bool driven = drive(state, d, window);
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
