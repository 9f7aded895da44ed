#include "Harness.h"
#include "TextRecorder.h"

#include "diagnostics/Logging.h"
#include "midi/MidiHandler.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMutex>
#include <QSignalSpy>

// Stands in for the desktop's file browser: records the folders it is asked to show.
class FileBrowser : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened() const
    {
        QMutexLocker lock(&mutex);
        return urls;
    }

public slots:
    // Called on the worker thread, where the FileManager asks the desktop.
    void open(const QUrl &url)
    {
        QMutexLocker lock(&mutex);
        urls << url;
    }

private:
    mutable QMutex mutex;
    QList<QUrl> urls;
};

// The file transfer: into transfer mode, the four folders, DONE, and back home.
class TestE2eTransfer : public QObject
{
    Q_OBJECT

    FileBrowser browser;

    void reachHome(Harness &h)
    {
        QVERIFY(h.isReady());
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is connected"),
                                  foundWithinMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("transferButton"), foundWithinMs);
        QVERIFY(h.isShown("updateButton"));
    }

    // Transfer pressed: the animation runs until the instrument is back in transfer mode.
    void enterTransferMode(Harness &h, TextRecorder &versionTexts)
    {
        QVERIFY(h.click("transferButton"));
        QVERIFY(!h.isShown("updateButton"));
        QVERIFY(!h.isShown("transferButton"));
        QVERIFY(h.isShown("versionText"));
        QVERIFY(h.text("versionText").startsWith(QStringLiteral("Connecting to Tovik")));
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("openProjectsButton"), flowWithinMs);
        QVERIFY(versionTexts.texts.contains(QStringLiteral("Connecting to Tovik...")));
        for (const char *name :
             {"openProjectsButton", "openDefinitionsButton", "openMidiFilesButton",
              "openGroovesButton", "completeTransferButton", "transferInfoText"})
            QVERIFY2(h.isShown(name), name);
        QVERIFY(!h.isShown("versionText"));
        QCOMPARE(h.windowProperty("inTransferFlow").toBool(), true);
        QCOMPARE(h.windowProperty("inReenumeration").toBool(), false);
    }

    void finishTransfer(Harness &h, TextRecorder &versionTexts)
    {
        QVERIFY(h.click("completeTransferButton"));
        QVERIFY(h.text("versionText").startsWith(QStringLiteral("Finalizing Transfer")));
        for (const char *name :
             {"openProjectsButton", "openDefinitionsButton", "openMidiFilesButton",
              "openGroovesButton", "completeTransferButton", "transferInfoText"})
            QVERIFY2(!h.isShown(name), name);
        QTRY_VERIFY_WITH_TIMEOUT(h.isShown("updateButton"), flowWithinMs);
        QVERIFY(versionTexts.texts.contains(QStringLiteral("Finalizing Transfer..")));
        QVERIFY(h.isShown("transferButton"));
        QVERIFY(!h.isShown("versionText"));
        QCOMPARE(h.windowProperty("inTransferFlow").toBool(), false);
        QCOMPARE(h.windowProperty("inReenumeration").toBool(), false);
    }

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler("file", &browser, "open"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

    void transferRoundTrip()
    {
        Harness h;
        reachHome(h);
        TextRecorder version(h.item("versionText"));
        enterTransferMode(h, version);
        QCOMPARE(h.received(MIDI_SYSEX_TRANSFER_START) >= 2, true); // before and after the switch
        QVERIFY(h.world.volumes().isMounted("TOVIK"));

        const QList<QUrl> before = browser.opened();
        const struct
        {
            const char *button;
            const char *folder;
        } folders[] = {{"openProjectsButton", "projects"},
                       {"openDefinitionsButton", "instrument_definitions"},
                       {"openMidiFilesButton", "MIDI_Clips"},
                       {"openGroovesButton", "grooves"}};
        for (const auto &f : folders)
            QVERIFY(h.click(f.button));
        QTRY_COMPARE(browser.opened().size(), before.size() + 4);
        for (int i = 0; i < 4; ++i) {
            const QString expected = h.world.volumeFolder("TOVIK") + '/' + folders[i].folder;
            QCOMPARE(browser.opened().at(before.size() + i).toLocalFile(), expected);
            QVERIFY(QFileInfo(expected).isDir());
        }

        finishTransfer(h, version);
        QVERIFY(!h.world.volumes().isMounted("TOVIK"));
        QCOMPARE(h.world.volumes().dismountRequests().size(), 1);
        QVERIFY(h.received(MIDI_SYSEX_TRANSFER_END) >= 1);

        // The flow can be repeated.
        enterTransferMode(h, version);
        finishTransfer(h, version);
    }

    void instrumentNeverConfirms()
    {
        Harness h;
        h.world.instrument().setConfirms(false);
        reachHome(h);
        TextRecorder version(h.item("versionText"));
        QSignalSpy released(&h.updater->midiHandler(), &MidiHandler::transferSysExReceived);
        enterTransferMode(h, version);
        QCOMPARE(released.size(), 1);
        // Released by the wait after the third send: the message went out three times after
        // the switch, plus the first one before it.
        QCOMPARE(h.received(MIDI_SYSEX_TRANSFER_START), 4);
        finishTransfer(h, version);
    }

    void ejectFails()
    {
        Harness h;
        h.world.volumes().setDismountError("TOVIK", "org.freedesktop.UDisks2.Error.DeviceBusy");
        reachHome(h);
        TextRecorder version(h.item("versionText"));
        enterTransferMode(h, version);
        QSignalSpy released(&h.updater->midiHandler(), &MidiHandler::transferSysExEndReceived);
        QVERIFY(h.click("completeTransferButton"));
        // The window is released at once, without following the instrument.
        QTRY_COMPARE_WITH_TIMEOUT(released.size(), 1, 10000);
        QVERIFY(h.isShown("updateButton"));
        QCOMPARE(h.received(MIDI_SYSEX_TRANSFER_END), 0);
        QVERIFY(h.world.volumes().isMounted("TOVIK"));
    }

    void disconnectionInTransferMode()
    {
        Harness h;
        reachHome(h);
        TextRecorder version(h.item("versionText"));
        enterTransferMode(h, version);
        h.world.instrument().unplug();
        QTRY_COMPARE_WITH_TIMEOUT(h.indicator(), QStringLiteral("Tovik is not connected"),
                                  foundWithinMs);
        QCOMPARE(h.item("connectionIndication")->property("color").value<QColor>(), QColor("red"));
        QVERIFY(h.isShown("infoConnectText"));
        for (const char *name :
             {"openProjectsButton", "openDefinitionsButton", "openMidiFilesButton",
              "openGroovesButton", "completeTransferButton"}) {
            QVERIFY2(h.isShown(name), name);
            QVERIFY2(!h.item(name)->isEnabled(), name);
            QCOMPARE(h.item(name)->opacity(), 0.5);
        }
        const int opened = browser.opened().size();
        h.pressOn(h.item("openProjectsButton"));
        QTest::qWait(500);
        QCOMPARE(browser.opened().size(), opened);
    }
};

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    initLogging(QStringLiteral("1.3.2"));
    TestE2eTransfer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_transfer.moc"
