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
#include <functional>
#include <utility>
#include <vector>

namespace {

// One step towards a state: a signal from a double, or a click when `button` is set.
struct Step
{
    const char *button;
    std::function<void(WindowDoubles &)> emitSignal;
};

Step click(const char *button)
{
    return {button, {}};
}

Step signal(std::function<void(WindowDoubles &)> emitSignal)
{
    return {nullptr, std::move(emitSignal)};
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

    const std::vector<Step> home = {signal([](WindowDoubles &d) {
        emit d.midiHandler.deviceFound(true);
        emit d.midiHandler.tovikReceivedVersion(QStringLiteral("1.5.2"));
        emit d.downloader.latestVersionFetched(QStringLiteral("1.6.0"));
    })};
    const auto then = [](std::vector<Step> steps, std::initializer_list<Step> more) {
        steps.insert(steps.end(), more);
        return steps;
    };
    const auto prompt = then(home, {click("updateButton")});
    const auto downloading = then(prompt, {click("startUpdateButton"), signal([](WindowDoubles &d) {
                                               emit d.downloader.downloadingProgressBar(42);
                                           })});
    const auto copying =
        then(downloading,
             {signal([](WindowDoubles &d) { emit d.mainController.copyingFileProgress(81); })});
    const auto transfer =
        then(home, {click("transferButton"),
                    signal([](WindowDoubles &d) { emit d.midiHandler.transferSysExReceived(); })});
    const std::vector<std::pair<const char *, std::vector<Step>>> shots = {
        {"searching", {}},
        {"home", home},
        {"update-prompt", prompt},
        {"downloading", downloading},
        {"copying", copying},
        {"update-complete", then(copying, {signal([](WindowDoubles &d) {
                                     emit d.mainController.fileTransferComplete(true);
                                 })})},
        {"transfer-mode", transfer},
        {"transfer-disconnected",
         then(transfer, {signal([](WindowDoubles &d) { emit d.midiHandler.deviceFound(false); })})},
    };

    int failures = 0;
    for (const auto &[name, steps] : shots) {
        WindowDoubles doubles;
        QQmlApplicationEngine engine;
        QQuickWindow *window = doubles.loadWindow(engine);
        if (!window) {
            std::fprintf(stderr, "main.qml did not load\n");
            return 1;
        }
        bool driven = true;
        for (const Step &step : steps) {
            QObject *button =
                step.button ? WindowDoubles::item(window, QLatin1String(step.button)) : nullptr;
            if (step.button)
                driven = driven && button && QMetaObject::invokeMethod(button, "clicked");
            else
                step.emitSignal(doubles);
        }
        // Let images load and the scene settle before grabbing.
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
        const QImage image = window->grabWindow();
        const QString path = outDir + QLatin1Char('/') + QLatin1String(name) + ".png";
        if (!driven || image.isNull() || !image.save(path)) {
            std::fprintf(stderr, "%s: could not drive, grab or save the window\n", name);
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return failures == 0 ? 0 : 1;
}
