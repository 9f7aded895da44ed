#include "tests/support/Harness.h"

#include "app/MainController.h"
#include "release/Downloader.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

// Drives the demo — the real program against the simulated world — through its main states and
// saves what the window shows at each one: tools/screenshot runs it.
namespace {

QString outputDir;
int failures = 0;

void save(Harness &h, const char *name)
{
    const QImage image = h.window()->grabWindow();
    const QString path = outputDir + '/' + QString::fromLatin1(name) + ".png";
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "could not save %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

bool waitFor(const std::function<bool()> &condition, int ms = flowWithinMs)
{
    if (QTest::qWaitFor(condition, ms))
        return true;
    std::fprintf(stderr, "the demo did not reach the next state in time\n");
    ++failures;
    return false;
}

void updateRoad()
{
    Harness h;
    if (!h.isReady())
        return void(++failures);
    QTest::qWait(500); // the logo is decoded before the first frame worth keeping
    save(h, "searching");
    waitFor([&] { return h.isShown("transferButton") && h.text("versionText").endsWith("1.6.0"); });
    save(h, "home");
    h.click("updateButton");
    QTest::qWait(100);
    save(h, "update-prompt");

    // The bar moves quickly; take it as it passes the middle, after the window has drawn it.
    bool downloadTaken = false;
    QObject::connect(&h.updater->downloader(), &Downloader::downloadingProgressBar, h.window(),
                     [&](qint64 percent) {
                         if (!downloadTaken && percent >= 40) {
                             downloadTaken = true;
                             save(h, "downloading");
                         }
                     });
    bool copyTaken = false;
    QObject::connect(&h.updater->mainController(), &MainController::copyingFileProgress, h.window(),
                     [&](int percent) {
                         if (!copyTaken && percent >= 60) {
                             copyTaken = true;
                             save(h, "copying");
                         }
                     });
    h.click("startUpdateButton");
    waitFor([&] { return h.text("versionText") == QLatin1String("File transfer complete!"); });
    QTest::qWait(100);
    save(h, "update-complete");
    if (!downloadTaken || !copyTaken)
        ++failures;
}

void transferRoad()
{
    Harness h;
    if (!h.isReady())
        return void(++failures);
    waitFor([&] { return h.isShown("transferButton"); });
    h.click("transferButton");
    QTest::qWait(1100);
    save(h, "transfer-connecting");
    waitFor([&] { return h.isShown("openProjectsButton"); });
    QTest::qWait(100);
    save(h, "transfer-mode");
    h.click("completeTransferButton");
    QTest::qWait(1100);
    save(h, "transfer-finalizing");
    waitFor([&] { return h.isShown("updateButton"); });
    QTest::qWait(100);
    save(h, "transfer-done");

    // Pulled out while in transfer mode: the window shows it and disables the buttons.
    h.click("transferButton");
    waitFor([&] { return h.isShown("openProjectsButton"); });
    h.world.instrument().unplug();
    waitFor([&] { return h.indicator() == QLatin1String("Tovik is not connected"); });
    QTest::qWait(100);
    save(h, "transfer-disconnected");
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir downloads;
    qputenv("TMPDIR", downloads.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(outputDir);
    updateRoad();
    transferRoad();
    return failures == 0 ? 0 : 1;
}
