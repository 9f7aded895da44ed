#include "DownloaderDouble.h"
#include "FileManagerBridgeDouble.h"
#include "MainControllerDouble.h"
#include "MidiHandlerDouble.h"
#include "WindowDoubles.h"
#include "WindowFonts.h"
#include "app/FileManagerBridge.h"
#include "app/MainController.h"
#include "midi/MidiHandler.h"
#include "release/Downloader.h"

#include <QFontInfo>
#include <QMetaMethod>
#include <QQmlApplicationEngine>
#include <QQuickItem>
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

// Signals and invokables of a class as normalised signatures, without QObject's own.
QStringList interfaceOf(const QMetaObject &meta)
{
    QStringList result;
    for (int i = QObject::staticMetaObject.methodCount(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.access() != QMetaMethod::Public)
            continue;
        if (method.methodType() == QMetaMethod::Signal)
            result.append(QStringLiteral("signal ") +
                          QString::fromLatin1(method.methodSignature()));
        else if (method.methodType() == QMetaMethod::Method)
            result.append(QStringLiteral("invokable ") +
                          QString::fromLatin1(method.methodSignature()));
    }
    return result;
}

// Visual children, depth first: QML parents items visually, not always as QObjects.
QQuickItem *findItem(QQuickItem *parent, const QString &name)
{
    const auto children = parent->childItems();
    for (QQuickItem *child : children) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

QObject *findNamed(QQuickWindow *window, const QString &name)
{
    return findItem(window->contentItem(), name);
}

} // namespace

class WindowContractTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void doublesMirrorRealClasses_data();
    void doublesMirrorRealClasses();
    void windowUsesOnlyRealMembers_data();
    void windowUsesOnlyRealMembers();
    void loadsCleanInMaterialStyle();
    void exitQuitsAndLeavesUpdateFlow();
    void closingWindowQuits();
};

void WindowContractTest::initTestCase()
{
    QCOMPARE(registerWindowFonts(), 3);
    QFont poppins(QStringLiteral("Poppins"));
    QCOMPARE(QFontInfo(poppins).family(), QStringLiteral("Poppins"));
}

void WindowContractTest::doublesMirrorRealClasses_data()
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

void WindowContractTest::doublesMirrorRealClasses()
{
    QFETCH(const QMetaObject *, real);
    QFETCH(const QMetaObject *, fake);
    // Every signal and invokable of the real class exists on the double with the same
    // signature, so the window cannot pass its tests against a member the program lacks.
    const QStringList fakeInterface = interfaceOf(*fake);
    const QStringList realInterface = interfaceOf(*real);
    QVERIFY(!realInterface.isEmpty());
    for (const QString &member : realInterface)
        QVERIFY2(fakeInterface.contains(member), qPrintable(member));
}

void WindowContractTest::windowUsesOnlyRealMembers_data()
{
    QTest::addColumn<const QMetaObject *>("real");
    QTest::addColumn<QStringList>("used");
    QTest::newRow("midiHandler") << &MidiHandler::staticMetaObject
                                 << QStringList{
                                        QStringLiteral("signal deviceFound(bool)"),
                                        QStringLiteral("signal tovikReceivedVersion(QString)"),
                                        QStringLiteral("signal transferSysExReceived()"),
                                        QStringLiteral("signal transferSysExEndReceived()"),
                                        QStringLiteral("invokable sendTransferSysEx()")};
    QTest::newRow("downloader") << &Downloader::staticMetaObject
                                // The meta-object stores qint64 under its normalised name.
                                << QStringList{
                                       QStringLiteral("signal latestVersionFetched(QString)"),
                                       QStringLiteral("signal downloadingProgressBar(qlonglong)"),
                                       QStringLiteral("signal versionCheck(bool)"),
                                       QStringLiteral("signal downloadStatus(bool,QString)"),
                                       QStringLiteral("invokable downloadFile()")};
    QTest::newRow("mainController")
        << &MainController::staticMetaObject
        << QStringList{QStringLiteral("signal fileTransferComplete(bool)"),
                       QStringLiteral("signal copyingFileProgress(int)")};
    QTest::newRow("fileManagerBridge")
        << &FileManagerBridge::staticMetaObject
        << QStringList{QStringLiteral("invokable openProjects()"),
                       QStringLiteral("invokable openInstrumentDefinitions()"),
                       QStringLiteral("invokable openMidiFiles()"),
                       QStringLiteral("invokable openGrooves()"),
                       QStringLiteral("invokable completeTransfer()")};
}

void WindowContractTest::windowUsesOnlyRealMembers()
{
    QFETCH(const QMetaObject *, real);
    QFETCH(QStringList, used);
    const QStringList realInterface = interfaceOf(*real);
    for (const QString &member : used)
        QVERIFY2(realInterface.contains(member), qPrintable(member + QStringLiteral(" not in ") +
                                                            realInterface.join(QLatin1Char(','))));
}

void WindowContractTest::loadsCleanInMaterialStyle()
{
    WindowDoubles doubles;
    QQmlApplicationEngine engine;
    doubles.install(&engine);
    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
    engine.load(QUrl(QStringLiteral("qrc:/Tovik_App/main.qml")));
    QCoreApplication::processEvents();
    qInstallMessageHandler(previous);

    QCOMPARE(engine.rootObjects().size(), 1);
    QVERIFY2(capturedMessages.isEmpty(), qPrintable(capturedMessages.join(QLatin1Char('\n'))));
    QCOMPARE(QQuickStyle::name(), QStringLiteral("Material"));
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(window->title().isEmpty());
    QCOMPARE(window->size(), QSize(360, 750));
    QVERIFY(findNamed(window, QStringLiteral("updateButton")));
}

void WindowContractTest::exitQuitsAndLeavesUpdateFlow()
{
    WindowDoubles doubles;
    QQmlApplicationEngine engine;
    doubles.install(&engine);
    engine.load(QUrl(QStringLiteral("qrc:/Tovik_App/main.qml")));
    QCOMPARE(engine.rootObjects().size(), 1);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    QVERIFY(window);

    emit doubles.midiHandler.deviceFound(true);
    emit doubles.downloader.versionCheck(true);
    QObject *update = findNamed(window, QStringLiteral("updateButton"));
    QVERIFY(update);
    QVERIFY(QMetaObject::invokeMethod(update, "clicked"));
    QCOMPARE(window->property("inUpdateFlow").toBool(), true);
    QObject *exitButton = findNamed(window, QStringLiteral("closeApplicationButton"));
    QVERIFY(exitButton);
    QCOMPARE(exitButton->property("visible").toBool(), true);

    QSignalSpy quit(&engine, &QQmlEngine::quit);
    // EXIT must end the event loop with 0, as the program's exec() does.
    QTimer::singleShot(0, exitButton,
                       [exitButton] { QMetaObject::invokeMethod(exitButton, "clicked"); });
    QTimer::singleShot(10000, qGuiApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QGuiApplication::exec(), 0);
    QCOMPARE(quit.count(), 1);
    QCOMPARE(window->property("inUpdateFlow").toBool(), false);
    QVERIFY(doubles.downloader.calls().isEmpty());
}

void WindowContractTest::closingWindowQuits()
{
    WindowDoubles doubles;
    QQmlApplicationEngine engine;
    doubles.install(&engine);
    engine.load(QUrl(QStringLiteral("qrc:/Tovik_App/main.qml")));
    QCOMPARE(engine.rootObjects().size(), 1);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    QVERIFY(window);
    QTimer::singleShot(0, window, [window] { window->close(); });
    QTimer::singleShot(10000, qGuiApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QGuiApplication::exec(), 0);
    QCOMPARE(window->isVisible(), false);
}

QTEST_MAIN(WindowContractTest)
#include "tst_window_contract.moc"
