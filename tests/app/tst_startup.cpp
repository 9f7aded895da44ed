#include "app/Updater.h"

#include <QDirIterator>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The program as a whole: its log at start-up and its exit code when the window cannot load.
// Each case is a child process, because the log starts once per process. (Closing the window
// and EXIT are covered end to end in tests/e2e.)
class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

    QString logPath() const
    {
        QDirIterator it(home.path() + "/.config/Tovik-Instruments/Tovik Updater/logs",
                        {"updater-*.log"}, QDir::Files);
        return it.hasNext() ? it.next() : QString();
    }

    QStringList logLines() const
    {
        QFile log(logPath());
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).split('\n')
                                             : QStringList();
    }

    void start(QProcess &child, const QString &program, const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TOVIK_BROKEN_QML", home.filePath("broken.qml"));
        child.setProcessEnvironment(env);
        child.start(program, args);
        QVERIFY(child.waitForStarted());
    }

private slots:
    void init() { QDir(home.path() + "/.config").removeRecursively(); }

    void programWritesItsLogHeader()
    {
        QProcess program;
        start(program, QStringLiteral(TOVIK_UPDATER_PATH), {});
        // The header (seven lines and an empty one) is written before any object exists.
        QTRY_VERIFY_WITH_TIMEOUT(logLines().size() >= 9, 20000);
        const QStringList lines = logLines();
        QVERIFY(QFileInfo(logPath()).fileName().contains(QRegularExpression(
            QStringLiteral("^updater-\\d{8}-\\d{6}-%1\\.log$").arg(program.processId()))));
        QCOMPARE(lines.at(0), QStringLiteral("=== Tovik Updater 1.3.2 ==="));
        QVERIFY2(lines.at(1).startsWith(QStringLiteral("started      ")), qPrintable(lines.at(1)));
        QCOMPARE(lines.at(6), QStringLiteral("log file     ") + logPath());
        QCOMPARE(lines.at(7), QString());
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
    }

    void windowThatFailsToLoadEndsWithMinusOne()
    {
        QFile broken(home.filePath("broken.qml"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("import QtQuick 2.15\nItem { this is not qml }\n");
        broken.close();
        QProcess child;
        start(child, QCoreApplication::applicationFilePath(), {"--broken-window"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode() & 0xff, 0xff); // exit(-1)
        // The engine's own complaint reaches the log through the message handler.
        QVERIFY2(logLines().join('\n').contains(QStringLiteral("broken.qml")),
                 qPrintable(logLines().join('\n')));
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
