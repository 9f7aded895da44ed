#include "app/Updater.h"

#include <QDir>
#include <QDirIterator>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

// The program as a whole: its log at start-up, its exit codes. Each case runs in a child process
// because the log starts once per process, as in the real program.
namespace {

int runChild(const QString &scenario, int argc, char *argv[])
{
    return runUpdaterMain(argc, argv, [scenario] {
        UpdaterParts parts = realUpdaterParts();
        if (scenario == QLatin1String("close")) {
            parts.afterLoad = [](QQmlApplicationEngine &engine) {
                auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
                if (!window)
                    return;
                // Close it the way a user does, once it has been shown.
                QObject::connect(window, &QQuickWindow::frameSwapped, window, &QWindow::close,
                                 Qt::QueuedConnection);
            };
        } else if (scenario == QLatin1String("quit")) {
            parts.afterLoad = [](QQmlApplicationEngine &engine) {
                QTimer::singleShot(300, &engine,
                                   [&engine] { engine.evaluate(QStringLiteral("Qt.quit()")); });
            };
        } else if (scenario == QLatin1String("broken")) {
            parts.mainQmlUrl = QUrl::fromLocalFile(qEnvironmentVariable("TOVIK_BROKEN_QML"));
        }
        return parts;
    });
}

struct ChildResult
{
    int exitCode = -2;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString log;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    QString findLog(const QString &home)
    {
        QDirIterator it(home + "/.config/Tovik-Instruments/Tovik Updater/logs", {"updater-*.log"},
                        QDir::Files);
        return it.hasNext() ? it.next() : QString();
    }

    ChildResult run(const QString &program, const QStringList &args, const QString &home,
                    const QProcessEnvironment &extra = {})
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const QString &key : extra.keys())
            env.insert(key, extra.value(key));
        child.setProcessEnvironment(env);
        child.start(program, args);
        ChildResult result;
        if (!child.waitForFinished(60000)) {
            child.kill();
            child.waitForFinished();
            return result;
        }
        result.exitCode = child.exitCode();
        result.status = child.exitStatus();
        QFile log(findLog(home));
        if (log.open(QIODevice::ReadOnly))
            result.log = QString::fromUtf8(log.readAll());
        return result;
    }

private slots:
    void programWritesItsLogHeader()
    {
        QTemporaryDir home;
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TOVIK_UPDATER_PATH), {});
        QVERIFY(program.waitForStarted());

        // The header is written before any object of the program exists.
        QString logPath;
        QTRY_VERIFY_WITH_TIMEOUT(!(logPath = findLog(home.path())).isEmpty(), 20000);
        QVERIFY(QFileInfo(logPath).fileName().contains(QRegularExpression(
            QStringLiteral("^updater-\\d{8}-\\d{6}-%1\\.log$").arg(program.processId()))));
        // The header's eighth line is empty; wait until all eight have been written.
        QStringList lines;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile log(logPath);
                if (!log.open(QIODevice::ReadOnly))
                    return false;
                lines = QString::fromUtf8(log.readAll()).split('\n');
                return lines.size() >= 9;
            }(),
            20000);
        QCOMPARE(lines.at(0), QStringLiteral("=== Tovik Updater 1.3.2 ==="));
        QVERIFY2(lines.at(1).startsWith(QStringLiteral("started      ")), qPrintable(lines.at(1)));
        QCOMPARE(lines.at(6), QStringLiteral("log file     ") + logPath);
        QCOMPARE(lines.at(7), QString());

        program.terminate();
        QVERIFY(program.waitForFinished(20000));
    }

    void closingTheWindowEndsWithZero()
    {
        QTemporaryDir home;
        const ChildResult r =
            run(QCoreApplication::applicationFilePath(), {"--child", "close"}, home.path());
        QCOMPARE(r.status, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(!r.log.isEmpty(), "the run left no log");
    }

    void quitFromTheWindowEndsWithZero()
    {
        QTemporaryDir home;
        const ChildResult r =
            run(QCoreApplication::applicationFilePath(), {"--child", "quit"}, home.path());
        QCOMPARE(r.status, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 0);
    }

    void windowThatFailsToLoadEndsWithMinusOne()
    {
        QTemporaryDir home;
        const QString broken = home.filePath("broken.qml");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("import QtQuick 2.15\nItem { this is not qml }\n");
        file.close();
        QProcessEnvironment extra;
        extra.insert("TOVIK_BROKEN_QML", broken);
        const ChildResult r =
            run(QCoreApplication::applicationFilePath(), {"--child", "broken"}, home.path(), extra);
        QCOMPARE(r.status, QProcess::NormalExit);
        QCOMPARE(r.exitCode & 0xff, 0xff); // exit(-1)
        // The engine's own complaint reaches the log through the message handler.
        QVERIFY2(r.log.contains(QStringLiteral("broken.qml")), qPrintable(r.log));
    }
};

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return runChild(QString::fromLatin1(argv[2]), argc, argv);
    QGuiApplication app(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
