#include "app/Updater.h"
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
};

int main(int argc, char *argv[])
{
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
