#include "app/FileManagerBridge.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

// The window's folder and DONE buttons, and the relay of the copy's progress to the window.
class TestBridge : public QObject
{
    Q_OBJECT

private slots:
    void folderButtons_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("folder");
        // The button labels differ from the folder names on purpose.
        QTest::newRow("Open Projects") << "openProjects"
                                       << "projects";
        QTest::newRow("Open Instruments") << "openInstrumentDefinitions"
                                          << "instrument_definitions";
        QTest::newRow("Open MIDI Files") << "openMidiFiles"
                                         << "MIDI_Clips";
        QTest::newRow("Open Grooves") << "openGrooves"
                                      << "grooves";
    }

    void folderButtons()
    {
        QFETCH(QString, method);
        QFETCH(QString, folder);
        FileManagerBridge bridge;
        QSignalSpy open(&bridge, &FileManagerBridge::requestOpenFolder);
        QSignalSpy eject(&bridge, &FileManagerBridge::requestEjectDevice);

        // Called the way the window calls it: by name, through the meta-object.
        QVERIFY(QMetaObject::invokeMethod(&bridge, method.toLatin1().constData()));

        QCOMPARE(open.count(), 1);
        QCOMPARE(open.at(0).at(0).toString(), QStringLiteral("TOVIK"));
        QCOMPARE(open.at(0).at(1).toString(), folder);
        QCOMPARE(eject.count(), 0);
    }

    void doneRequestsOneEject()
    {
        FileManagerBridge bridge;
        QSignalSpy open(&bridge, &FileManagerBridge::requestOpenFolder);
        QSignalSpy eject(&bridge, &FileManagerBridge::requestEjectDevice);
        QVERIFY(QMetaObject::invokeMethod(&bridge, "completeTransfer"));
        QCOMPARE(eject.count(), 1);
        QCOMPARE(eject.at(0).at(0).toString(), QStringLiteral("TOVIK"));
        QCOMPARE(open.count(), 0);
    }

    void quickClicksQueueInOrder()
    {
        // Several quick clicks reach a receiver on another thread one after the other, in order.
        FileManagerBridge bridge;
        QThread worker;
        QObject receiver;
        receiver.moveToThread(&worker);
        QStringList served;
        QList<Qt::HANDLE> threads;
        connect(
            &bridge, &FileManagerBridge::requestOpenFolder, &receiver,
            [&](const QString &, const QString &folder) {
                served << folder;
                threads << QThread::currentThreadId();
            },
            Qt::QueuedConnection);
        worker.start();
        bridge.openGrooves();
        bridge.openProjects();
        bridge.openMidiFiles();
        bridge.openInstrumentDefinitions();
        QTRY_COMPARE(served.size(), 4);
        worker.quit();
        worker.wait();
        QCOMPARE(served,
                 (QStringList{"grooves", "projects", "MIDI_Clips", "instrument_definitions"}));
        for (Qt::HANDLE t : threads)
            QVERIFY(t != QThread::currentThreadId());
    }
};

QTEST_GUILESS_MAIN(TestBridge)
#include "tst_bridge.moc"
