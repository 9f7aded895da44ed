#include "app/Updater.h"

#include <QDirIterator>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        QFile broken(home.filePath("broken.qml"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("import QtQuick 2.15\nItem { this is not qml }\n");
        broken.close();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("TOVIK_BROKEN_QML", broken.fileName());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--broken-window"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode() & 0xff, 0xff); // exit(-1)
        // The engine's own complaint reaches the log through the message handler.
        QDirIterator logs(home.path() + "/.config/Tovik-Instruments/Tovik Updater/logs",
                          {"updater-*.log"}, QDir::Files);
        QFile log(logs.hasNext() ? logs.next() : QString());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY2(text.contains("broken.qml"), text.constData());
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
