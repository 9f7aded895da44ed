#include "app/Updater.h"
#include "sim/world/SimulatedWorld.h"
#include "storage/FileManager.h"

#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>

// How the program ends: EXIT and closing the window both give 0, and the worker thread is
// stopped with the FileManager freed. Each run is a child process, as the program is one.
namespace {

std::atomic<bool> fileManagerFreed{false};
// The child's exit code when the run ended with 0 but the FileManager outlived it.
constexpr int fileManagerLeft = 3;

QQuickItem *findItem(QQmlApplicationEngine &engine, const char *name)
{
    QObject *root = engine.rootObjects().value(0);
    return root ? root->findChild<QQuickItem *>(QString::fromLatin1(name)) : nullptr;
}

bool clickIfShown(QQmlApplicationEngine &engine, const char *name)
{
    QQuickItem *button = findItem(engine, name);
    if (!button || !button->isVisible() || !button->isEnabled())
        return false;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

int runChild(const QString &scenario, int argc, char *argv[])
{
    const int result = runUpdaterMain(argc, argv, [scenario] {
        auto world = std::make_shared<SimulatedWorld>();
        UpdaterParts parts = world->parts();
        parts.makeFileManager = [made = parts.makeFileManager] {
            FileManager *fileManager = made();
            QObject::connect(fileManager, &QObject::destroyed, [] { fileManagerFreed = true; });
            return fileManager;
        };
        if (scenario == QLatin1String("exit")) {
            // A download that fails on both routes leaves EXIT as the way out.
            ServeRule notFound;
            notFound.body = ServeRule::Body::NotFound404;
            world->server().setRule(world->updateFileName(), notFound);
        }
        parts.afterLoad = [scenario](QQmlApplicationEngine &engine) {
            auto *steps = new QTimer(&engine);
            QObject::connect(steps, &QTimer::timeout, &engine, [&engine, scenario] {
                if (!findItem(engine, "updateButton"))
                    return;
                const bool connected =
                    findItem(engine, "logoContainer")->property("connected").toBool();
                if (scenario == QLatin1String("close")) {
                    if (connected)
                        qobject_cast<QWindow *>(engine.rootObjects().value(0))->close();
                    return;
                }
                clickIfShown(engine, "closeApplicationButton") ||
                    clickIfShown(engine, "startUpdateButton") ||
                    clickIfShown(engine, "updateButton");
            });
            steps->start(200);
        };
        parts.keepAlive = world;
        return parts;
    });
    if (result == 0 && !fileManagerFreed)
        return fileManagerLeft;
    return result;
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
    }

    void endsWithZero()
    {
        QFETCH(QString, scenario);
        QTemporaryDir home;
        QTemporaryDir downloads;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("TMPDIR", downloads.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--child", scenario});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
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
