#include "tests/support/Harness.h"

#include "storage/FileManager.h"
#include "tests/support/ChildRun.h"

#include <QGuiApplication>
#include <QtTest>

#include <atomic>

// How the program ends: EXIT and closing the window both give 0, the worker thread is stopped
// with the FileManager freed, and after a successful copy the instrument still gets its
// update-finish messages. Each run is a child process, as the program is one.
namespace {

std::atomic<bool> fileManagerFreed{false};
// The child's exit codes when the run ended with 0 but something was left undone.
constexpr int fileManagerLeft = 3, updateFinishMissing = 4, windowShownWhileFinishing = 5,
              waitedTooLong = 6;
// Without an update to finish the run ends at once: room for a loaded machine.
constexpr int quitWithinMs = 2000;
// With one, at most its 750 ms start, a detection pass that finds the instrument at its last
// tick (7050 ms), the first send 400 ms later and the 15 s acknowledgement timeout.
constexpr int finishSentWithinMs = 23200;

int runChild(const QString &scenario, int argc, char *argv[])
{
    const bool afterCopy = scenario.contains(QLatin1String("after copy"));
    const bool backLate = scenario.endsWith(QLatin1String("back late"));
    const bool closes = scenario.startsWith(QLatin1String("close"));
    int finishMessages = 0;
    bool finishedWithWindowShown = false;
    QElapsedTimer sinceQuit;
    const int result = runUpdaterMain(argc, argv, [&] {
        auto world = std::make_shared<SimulatedWorld>();
        UpdaterParts parts = updaterPartsFrom(*world);
        parts.makeFileManager = [made = parts.makeFileManager] {
            FileManager *fileManager = made();
            QObject::connect(fileManager, &QObject::destroyed, [] { fileManagerFreed = true; });
            return fileManager;
        };
        if (scenario == QLatin1String("exit")) {
            // A download that fails on both routes leaves EXIT as the way out.
            world->server().setRule(world->updateFileName(),
                                    {ServeRule::Head::Normal, ServeRule::Body::NotFound404});
        }
        if (backLate)
            world->instrument().setFaults(SimulatedInstrument::ReturnAfterDetectionBudget);
        // Counted as the bus took them: the last may go out just before the run ends.
        QObject::connect(
            qApp, &QCoreApplication::aboutToQuit, world.get(),
            [&finishMessages, sent = std::make_shared<MidiBusFaults>(world->instrument().bus())] {
                finishMessages = sent->receivedCount(SimulatedInstrument::bytes(updateFinish));
            });
        QObject::connect(&world->instrument(), &SimulatedInstrument::messageHandled,
                         [&](const QByteArray &message) {
                             if (message != SimulatedInstrument::bytes(updateFinish))
                                 return;
                             for (QWindow *window : QGuiApplication::topLevelWindows())
                                 finishedWithWindowShown |= window->isVisible();
                         });
        parts.afterLoad = [&](QQmlApplicationEngine &engine) {
            auto *steps = new QTimer(&engine);
            QObject::connect(
                steps, &QTimer::timeout, &engine, [&engine, &sinceQuit, steps, closes, afterCopy] {
                    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
                    if (!findItem(window, "updateButton"))
                        return;
                    const bool ready =
                        afterCopy
                            ? findItem(window, "versionText")->property("text").toString() ==
                                  QLatin1String("File transfer complete!")
                            : findItem(window, "logoContainer")->property("connected").toBool();
                    if (closes && ready) {
                        steps->stop();
                        sinceQuit.start();
                        window->close();
                    } else if ((!afterCopy || ready) &&
                               clickItem(window, "closeApplicationButton")) {
                        steps->stop();
                        sinceQuit.start();
                    } else if (!closes || afterCopy) {
                        clickItem(window, "startUpdateButton") || clickItem(window, "updateButton");
                    }
                });
            steps->start(200);
        };
        parts.keepAlive = world;
        return parts;
    });
    if (result != 0)
        return result;
    if (!fileManagerFreed)
        return fileManagerLeft;
    if (afterCopy && finishMessages != (backLate ? 1 : 3))
        return updateFinishMissing;
    if (finishedWithWindowShown)
        return windowShownWhileFinishing;
    // Only an update still to be finished keeps the run going, and never past its limit.
    return sinceQuit.elapsed() <= (afterCopy ? finishSentWithinMs : quitWithinMs) ? 0
                                                                                  : waitedTooLong;
}

} // namespace

class TestE2eShutdown : public QObject
{
    Q_OBJECT

private slots:
    void endsWithZero_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("window closed") << "close";
        QTest::newRow("EXIT after a failed download") << "exit";
        // The update-finish messages still go out, with the window hidden.
        QTest::newRow("EXIT after a successful copy") << "exit after copy";
        QTest::newRow("window closed after a successful copy") << "close after copy";
        QTest::newRow("EXIT after a successful copy, back late") << "exit after copy, back late";
    }

    void endsWithZero()
    {
        QFETCH(QString, scenario);
        QTemporaryDir home;
        QTemporaryDir downloads;
        const ChildRun child =
            runChild(QCoreApplication::applicationFilePath(), {"--child", scenario}, home.path(),
                     {"TMPDIR=" + downloads.path()}, 120000);
        QVERIFY2(child.finished && child.status == QProcess::NormalExit && child.code == 0,
                 qPrintable(QStringLiteral("exit %1: %2").arg(child.code).arg(child.err)));
    }
};

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return runChild(QString::fromLatin1(argv[2]), argc, argv);
    QGuiApplication app(argc, argv);
    TestE2eShutdown test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_shutdown.moc"
