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

// Public signals and invokables declared below `base`, as sorted "<type> <signature>" texts.
QStringList interfaceOf(const QMetaObject &meta, const QMetaObject &base)
{
    QStringList result;
    for (int i = base.methodCount(); i < meta.methodCount(); ++i) {
        const QMetaMethod m = meta.method(i);
        if (m.access() == QMetaMethod::Public && m.methodType() != QMetaMethod::Slot)
            result.append(QString::number(m.methodType()) + QLatin1Char(' ') +
                          QString::fromLatin1(m.methodSignature()));
    }
    result.sort();
    return result;
}

} // namespace

class WindowContractTest : public QObject
{
    Q_OBJECT
private slots:
    void doublesMatchRealClasses();
    void exitQuitsAndLeavesUpdateFlow();
};

// The window's tests run against the doubles, so the doubles offer exactly what the program's
// classes offer, signature for signature.
void WindowContractTest::doublesMatchRealClasses()
{
    const std::pair<const QMetaObject *, const QMetaObject *> pairs[] = {
        {&MidiHandler::staticMetaObject, &MidiHandlerDouble::staticMetaObject},
        {&Downloader::staticMetaObject, &DownloaderDouble::staticMetaObject},
        {&MainController::staticMetaObject, &MainControllerDouble::staticMetaObject},
        {&FileManagerBridge::staticMetaObject, &FileManagerBridgeDouble::staticMetaObject}};
    for (const auto &[real, fake] : pairs) {
        const QStringList realInterface = interfaceOf(*real, QObject::staticMetaObject);
        QVERIFY(!realInterface.isEmpty());
        QCOMPARE(interfaceOf(*fake, RecordingDouble::staticMetaObject), realInterface);
    }
}

void WindowContractTest::exitQuitsAndLeavesUpdateFlow()
{
    WindowDoubles doubles;
    QQmlApplicationEngine engine;
    QQuickWindow *window = doubles.loadWindow(engine);
    QVERIFY(window);
    // The style comes from the resources; the window tests fail on any QML warning.
    QCOMPARE(QQuickStyle::name(), QStringLiteral("Material"));
    emit doubles.midiHandler.deviceFound(true);
    emit doubles.downloader.versionCheck(true);
    QObject *update = WindowDoubles::item(window, QStringLiteral("updateButton"));
    QVERIFY(update && QMetaObject::invokeMethod(update, "clicked"));
    QObject *exitButton = WindowDoubles::item(window, QStringLiteral("closeApplicationButton"));
    QVERIFY(exitButton && exitButton->property("visible").toBool());

    QSignalSpy quit(&engine, &QQmlEngine::quit);
    QVERIFY(QMetaObject::invokeMethod(exitButton, "clicked"));
    QTRY_COMPARE(quit.count(), 1);
    QCOMPARE(window->property("inUpdateFlow").toBool(), false);
    QVERIFY(doubles.downloader.calls.isEmpty());
}

QTEST_MAIN(WindowContractTest)
#include "tst_window_contract.moc"
