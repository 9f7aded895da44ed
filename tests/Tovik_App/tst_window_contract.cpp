#include "WindowDoubles.h"
#include "app/FileManagerBridge.h"
#include "app/MainController.h"
#include "midi/MidiHandler.h"
#include "release/Downloader.h"

#include <QMetaMethod>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QtTest>

namespace {

QStringList capturedMessages;

void captureMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        capturedMessages.append(message);
}

// Public signals and invokables declared from methodOffset on, as sorted signatures.
QStringList interfaceOf(const QMetaObject &meta, int methodOffset)
{
    QStringList result;
    for (int i = methodOffset; i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.access() == QMetaMethod::Public && (method.methodType() == QMetaMethod::Signal ||
                                                       method.methodType() == QMetaMethod::Method))
            result.append(QLatin1String(method.methodType() == QMetaMethod::Signal ? "signal "
                                                                                   : "invokable ") +
                          QString::fromLatin1(method.methodSignature()));
    }
    result.sort();
    return result;
}

} // namespace

class WindowContractTest : public QObject
{
    Q_OBJECT
private slots:
    void doublesMatchRealClasses_data();
    void doublesMatchRealClasses();
    void loadsCleanInMaterialStyle();
    void exitQuitsAndLeavesUpdateFlow();
};

void WindowContractTest::doublesMatchRealClasses_data()
{
    QTest::addColumn<const QMetaObject *>("real");
    QTest::addColumn<const QMetaObject *>("fake");
    QTest::newRow("MidiHandler") << &MidiHandler::staticMetaObject
                                 << &MidiHandlerDouble::staticMetaObject;
    QTest::newRow("Downloader") << &Downloader::staticMetaObject
                                << &DownloaderDouble::staticMetaObject;
    QTest::newRow("MainController")
        << &MainController::staticMetaObject << &MainControllerDouble::staticMetaObject;
    QTest::newRow("FileManagerBridge")
        << &FileManagerBridge::staticMetaObject << &FileManagerBridgeDouble::staticMetaObject;
}

void WindowContractTest::doublesMatchRealClasses()
{
    QFETCH(const QMetaObject *, real);
    QFETCH(const QMetaObject *, fake);
    // Same signals and invokables, same signatures: the window's tests run against the doubles
    // and load cleanly, so the window uses nothing the program lacks.
    const QStringList realInterface = interfaceOf(*real, QObject::staticMetaObject.methodCount());
    QVERIFY(!realInterface.isEmpty());
    QCOMPARE(interfaceOf(*fake, RecordingDouble::staticMetaObject.methodCount()), realInterface);
}

void WindowContractTest::loadsCleanInMaterialStyle()
{
    WindowDoubles doubles;
    QQmlApplicationEngine engine;
    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
    QQuickWindow *window = doubles.loadWindow(engine);
    QCoreApplication::processEvents();
    qInstallMessageHandler(previous);

    QVERIFY(window);
    QVERIFY2(capturedMessages.isEmpty(), qPrintable(capturedMessages.join(QLatin1Char('\n'))));
    QCOMPARE(QQuickStyle::name(), QStringLiteral("Material"));
}

void WindowContractTest::exitQuitsAndLeavesUpdateFlow()
{
    WindowDoubles doubles;
    QQmlApplicationEngine engine;
    QQuickWindow *window = doubles.loadWindow(engine);
    QVERIFY(window);
    emit doubles.midiHandler.deviceFound(true);
    emit doubles.downloader.versionCheck(true);
    QObject *update = WindowDoubles::item(window, QStringLiteral("updateButton"));
    QVERIFY(update && QMetaObject::invokeMethod(update, "clicked"));
    QCOMPARE(window->property("inUpdateFlow").toBool(), true);
    QObject *exitButton = WindowDoubles::item(window, QStringLiteral("closeApplicationButton"));
    QVERIFY(exitButton && exitButton->property("visible").toBool());

    QSignalSpy quit(&engine, &QQmlEngine::quit);
    QTimer::singleShot(0, exitButton,
                       [exitButton] { QMetaObject::invokeMethod(exitButton, "clicked"); });
    // EXIT must end the event loop with 0, as the program's exec() does.
    QTimer::singleShot(10000, qGuiApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QGuiApplication::exec(), 0);
    QCOMPARE(quit.count(), 1);
    QCOMPARE(window->property("inUpdateFlow").toBool(), false);
    QVERIFY(doubles.downloader.calls().isEmpty());
}

QTEST_MAIN(WindowContractTest)
#include "tst_window_contract.moc"
