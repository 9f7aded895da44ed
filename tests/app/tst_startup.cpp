#include "app/Updater.h"
#include "sim/world/SimulatedWorld.h"
#include "tests/support/ChildRun.h"
#include "tests/support/Files.h"

#include <QGuiApplication>
#include <QtTest>

// The program's exit code when its window cannot load, with the real parts, in a child process
// because the log starts once per process. (Closing the window and EXIT are covered end to end
// in tests/e2e, the log's header in tests/diagnostics.)
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void windowThatFailsToLoadEndsWithMinusOne()
    {
        QTemporaryDir home;
        const QString broken = home.filePath("broken.qml");
        QVERIFY(writeFile(broken, "import QtQuick 2.15\nItem { this is not qml }\n"));
        const ChildRun child =
            runChild(QCoreApplication::applicationFilePath(), {"--broken-window"}, home.path(),
                     {"TOVIK_BROKEN_QML=" + broken});
        QVERIFY(child.finished && child.status == QProcess::NormalExit);
        QCOMPARE(child.code & 0xff, 0xff); // exit(-1)
        // The engine's own complaint reaches the log through the message handler.
        const QString log = readLog(logFileOf(logDirectory(home.path()), child.pid));
        QVERIFY2(log.contains("broken.qml"), qPrintable(log));
    }

    // A second start while the first runs makes nothing, asks the first for its window and ends
    // with 0; once the first has gone, even killed, the next start runs.
    void secondStartShowsTheFirst()
    {
        QTemporaryDir home;
        const QString program = QCoreApplication::applicationFilePath();
        QProcess first; // at the test's own home, with the same runtime folder
        first.start(program, {"--simulated"});
        QVERIFY(first.waitForReadyRead(20000) && first.readAllStandardOutput() == "parts made\n");

        const ChildRun second = runChild(program, {"--simulated"}, home.path(), {}, 20000);
        QVERIFY(second.finished && second.status == QProcess::NormalExit && second.code == 0);
        QVERIFY(!second.out.contains("parts made"));
        QVERIFY(readLog(logFileOf(logDirectory(home.path()), second.pid))
                    .contains("App: Tovik Updater is already running for this user"));
        QTRY_VERIFY(readLog(logFileOf(logDirectory(), first.processId()))
                        .contains("App: Started again; bringing the window to the front"));

        first.kill();
        QVERIFY(first.waitForFinished());
        const ChildRun third = runChild(program, {"--simulated", "--quit"}, home.path());
        QVERIFY(third.finished && third.code == 0 && third.out.contains("parts made"));
    }
};

int main(int argc, char *argv[])
{
    if (argc >= 2 && qstrcmp(argv[1], "--simulated") == 0) {
        const bool quits = argc >= 3 && qstrcmp(argv[2], "--quit") == 0;
        return runUpdaterMain(argc, argv, [quits] {
            auto world = std::make_shared<SimulatedWorld>();
            UpdaterParts parts = updaterPartsFrom(*world);
            parts.keepAlive = world;
            if (quits)
                parts.afterLoad = [](auto &) {
                    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
                };
            QTextStream(stdout) << "parts made" << Qt::endl;
            return parts;
        });
    }
    if (argc >= 2 && qstrcmp(argv[1], "--broken-window") == 0) {
        return runUpdaterMain(argc, argv, [] {
            UpdaterParts parts = realUpdaterParts();
            parts.mainQmlUrl = QUrl::fromLocalFile(qEnvironmentVariable("TOVIK_BROKEN_QML"));
            return parts;
        });
    }
    QGuiApplication app(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
