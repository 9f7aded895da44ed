#include "app/FileManagerBridge.h"
#include "app/MainController.h"
#include "midi/MidiHandler.h"
#include "release/Downloader.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

namespace {

// Public signals and what QML may call (invokables of a class, functions of a QML object, which
// are slots) declared below QObject, as sorted "name/argument count" texts.
QStringList interfaceOf(const QMetaObject &meta, QMetaMethod::MethodType callable)
{
    QStringList result;
    for (int i = QObject::staticMetaObject.methodCount(); i < meta.methodCount(); ++i) {
        const QMetaMethod m = meta.method(i);
        if (m.access() == QMetaMethod::Public &&
            (m.methodType() == QMetaMethod::Signal || m.methodType() == callable))
            result.append(QStringLiteral("%1/%2").arg(m.name()).arg(m.parameterCount()));
    }
    result.sort();
    return result;
}

} // namespace

// The window's tests run against the doubles, so the doubles offer exactly what the program's
// classes offer.
class WindowContractTest : public QObject
{
    Q_OBJECT
private slots:
    void doublesMatchRealClasses()
    {
        QQmlEngine engine;
        QQmlComponent component(&engine, QUrl::fromLocalFile(TOVIK_WINDOW_DOUBLES));
        std::unique_ptr<QObject> doubles(component.create());
        QVERIFY2(doubles, qPrintable(component.errorString()));
        const std::pair<const char *, const QMetaObject *> pairs[] = {
            {"midiHandler", &MidiHandler::staticMetaObject},
            {"downloader", &Downloader::staticMetaObject},
            {"mainController", &MainController::staticMetaObject},
            {"fileManagerBridge", &FileManagerBridge::staticMetaObject}};
        for (const auto &[name, real] : pairs) {
            const QObject *fake = doubles->property(name).value<QObject *>();
            QVERIFY2(fake, name);
            QCOMPARE(interfaceOf(*fake->metaObject(), QMetaMethod::Slot),
                     interfaceOf(*real, QMetaMethod::Method));
        }
    }
};

QTEST_MAIN(WindowContractTest)
#include "tst_window_contract.moc"
