// The once-a-second check against the simulated instrument.
#include "MidiTestSupport.h"

#include "diagnostics/Logging.h"
#include "midi/RtMidiBackend.h"

#include <QRegularExpression>
#include <QtTest>

namespace {
const QString throughPort = QStringLiteral("Midi Through:Midi Through Port-0 14:0");
const QString tovikPort = QStringLiteral("Tovik:Tovik MIDI 1 20:0");
// Room for a loaded two-core machine; timers never fire early.
constexpr int lateMs = 300;

int countLines(const QString &text, const QString &needle)
{
    return static_cast<int>(text.count(needle));
}
} // namespace

class TestMidiLink : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void foundThenLost();
    void oneSideOnly_data();
    void oneSideOnly();
    void portListTraceLine();
    void errorOnOnePort();
    void constructionFailureLeavesLinkIdle();
    void sendErrorReconnectsOnce_data();
    void sendErrorReconnectsOnce();
    void closeWithoutCallbackWarns();
    void realBackend();
    void metaObjectOrder();

private:
    std::unique_ptr<WarningCapture> warnings;
};

void TestMidiLink::initTestCase()
{
    initLogging(QStringLiteral("test"));
    warnings = std::make_unique<WarningCapture>();
}

void TestMidiLink::foundThenLost()
{
    SimRig rig;
    const qint64 start = monotonicMs();
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 1, 1000 + lateMs));
    const qint64 found = rig.recorder->timeOf(QStringLiteral("deviceFound"));
    QVERIFY2(found - start >= 1000 - 5, "the first check runs one second after construction");

    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 800 + lateMs));
    QCOMPARE(rig.recorder->entries.last().argument.toString(), QStringLiteral("1.5.0"));
    const QList<qint64> requests =
        receivedAfter(*rig.instrument, MIDI_SYSEX_VERSION_REQUEST, start);
    QCOMPARE(requests.size(), 1);
    const qint64 opened = openedAfter(*rig.instrument, start);
    QVERIFY(opened > 0);
    QVERIFY2(requests[0] - opened >= 800 - 5 && requests[0] - opened <= 800 + lateMs,
             qPrintable(QStringLiteral("request %1 ms after opening").arg(requests[0] - opened)));

    // Further checks while connected emit nothing and ask nothing.
    QTest::qWait(2200);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound")), 1);
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_VERSION_REQUEST, start).size(), 1);

    rig.instrument->unplug();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 2, 1000 + lateMs));
    QCOMPARE(rig.recorder->entries.last().argument.toBool(), false);
    QTest::qWait(1200);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound")), 2);

    // Back again: found once more and asked once more.
    rig.instrument->setVersion(QStringLiteral("1.5.1"));
    rig.instrument->plugIn();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 2, 1800 + 2 * lateMs));
    QCOMPARE(rig.recorder->sequence(),
             QStringList({"deviceFound:true", "tovikReceivedVersion:1.5.0", "deviceFound:false",
                          "deviceFound:true", "tovikReceivedVersion:1.5.1"}));
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_VERSION_REQUEST, start).size(), 2);
}

void TestMidiLink::oneSideOnly_data()
{
    QTest::addColumn<bool>("input");
    QTest::addColumn<bool>("output");
    QTest::newRow("input without output") << true << false;
    QTest::newRow("output without input") << false << true;
}

void TestMidiLink::oneSideOnly()
{
    QFETCH(bool, input);
    QFETCH(bool, output);
    SimRig rig(false);
    rig.instrument->bus()->setInstrumentPorts(input, output);
    rig.makeHandler();
    QVERIFY(!rig.recorder->waitFor(QStringLiteral("deviceFound"), 1, 2000 + lateMs));

    // Connected first, then one side goes: the link closes and says so once.
    rig.instrument->bus()->setInstrumentPorts(true, true);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 1, 1000 + lateMs));
    rig.instrument->bus()->setInstrumentPorts(input, output);
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 2, 1000 + lateMs));
    QCOMPARE(rig.recorder->sequence().mid(0, 1), QStringList({"deviceFound:true"}));
    QCOMPARE(rig.recorder->entries.last().argument.toBool(), false);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound")), 2);
}

void TestMidiLink::portListTraceLine()
{
    const QString before = logFileText();
    QVERIFY2(!before.isEmpty(), "initLogging opened no log file");
    const QString marker = QStringLiteral("MIDI port list changed: ");
    const int linesBefore = countLines(before, marker);

    SimRig rig(false);
    rig.instrument->bus()->setMidiThrough(false);
    rig.makeHandler();
    QTest::qWait(2000 + lateMs);
    // Two checks with no ports at all: the signature "/" is written once.
    QString text = logFileText();
    QCOMPARE(countLines(text, marker) - linesBefore, 1);
    QVERIFY(text.contains(marker + QStringLiteral("/\n")));

    rig.instrument->bus()->setMidiThrough(true);
    rig.instrument->plugIn();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 1, 1000 + lateMs));
    QTest::qWait(1000 + lateMs);
    text = logFileText();
    QCOMPARE(countLines(text, marker) - linesBefore, 2);
    const QString both = throughPort + QLatin1Char('|') + tovikPort + QLatin1Char('|');
    QVERIFY(text.contains(marker + both + QLatin1Char('/') + both + QLatin1Char('\n')));
}

void TestMidiLink::errorOnOnePort()
{
    // A port whose name cannot be read is skipped; the instrument behind it is still found.
    SimRig rig;
    rig.instrument->bus()->setPortNameError(throughPort.toStdString());
    const int linesBefore = countLines(logFileText(), QStringLiteral("<enumeration error>"));
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("deviceFound"), 1, 1000 + lateMs));
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 800 + lateMs));
    QCOMPARE(countLines(logFileText(), QStringLiteral("<enumeration error>")) - linesBefore, 1);
}

void TestMidiLink::constructionFailureLeavesLinkIdle()
{
    SimRig rig;
    rig.instrument->failNextConstructions(1);
    warnings->clear();
    rig.makeHandler();
    QCOMPARE(warnings->countContaining(QStringLiteral("MH: MIDI service unavailable")), 1);
    QVERIFY(warnings->lines()
                .join(QLatin1Char('\n'))
                .contains(QStringLiteral("error creating sequencer client object")));
    // Nothing polls: the instrument stays unseen.
    QVERIFY(!rig.recorder->waitFor(QStringLiteral("deviceFound"), 1, 2000 + lateMs));
    QVERIFY(rig.instrument->received().isEmpty());
}

void TestMidiLink::sendErrorReconnectsOnce_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("delivered");
    QTest::addColumn<int>("foundAgain");
    QTest::newRow("clean send") << 0 << 1 << 0;
    QTest::newRow("one driver error") << 1 << 1 << 1;
    QTest::newRow("two driver errors") << 2 << 0 << 1;
}

void TestMidiLink::sendErrorReconnectsOnce()
{
    QFETCH(int, failures);
    QFETCH(int, delivered);
    QFETCH(int, foundAgain);
    SimRig rig;
    rig.makeHandler();
    QVERIFY(rig.recorder->waitFor(QStringLiteral("tovikReceivedVersion"), 1, 1800 + 2 * lateMs));
    warnings->clear();
    rig.instrument->failNextSends(failures);
    const qint64 sent = monotonicMs();
    rig.handler->fileDownloaded(true);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceSetToTransferMode")), 1);
    QCOMPARE(warnings->countContaining(QStringLiteral("MH: RtMidi error (type 8 ): ")), failures);
    QTest::qWait(1000 + lateMs);
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_UPDATE_MODE, sent).size(), delivered);
    QCOMPARE(rig.recorder->count(QStringLiteral("deviceFound"), true), 1 + foundAgain);
    // A reconnection is a mode switch: no version request follows it.
    QCOMPARE(receivedAfter(*rig.instrument, MIDI_SYSEX_VERSION_REQUEST, sent).size(), 0);
}

void TestMidiLink::closeWithoutCallbackWarns()
{
    // Starting a switch while never connected closes an input that has no callback.
    SimRig rig(false);
    rig.makeHandler();
    warnings->clear();
    rig.handler->onEjectCompleted(true);
    const QString expected = QStringLiteral(
        "MH: RtMidi error (type 0 ): RtMidiIn::cancelCallback: no callback function was set!");
    QCOMPARE(warnings->countContaining(expected), 1);
    QCOMPARE(warnings->lines().size(), 1);
}

void TestMidiLink::realBackend()
{
#if defined(__linux__)
    // Left to itself RtMidi would pick JACK whenever ALSA lists no ports at start-up.
    QCOMPARE(RtMidiBackend::platformApi(), RtMidi::LINUX_ALSA);
#endif
    // Without a sequencer the link stays idle, and the log says why.
    warnings->clear();
    MidiHandler handler(nullptr);
    const bool sequencer = QFile::exists(QStringLiteral("/dev/snd/seq"));
    QCOMPARE(warnings->countContaining(QStringLiteral("MH: MIDI service unavailable")),
             sequencer ? 0 : 1);
}

void TestMidiLink::metaObjectOrder()
{
    // QML and the wiring find these by name; the order is part of the class's contract.
    const QMetaObject &meta = MidiHandler::staticMetaObject;
    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        methods.append(QString::fromLatin1(meta.method(i).methodSignature()));
    QCOMPARE(methods, QStringList({"deviceReenumerationFinished(bool)", "deviceFound(bool)",
                                   "deviceSetToTransferMode()", "updateTransferDone()",
                                   "transferSysExReceived()", "transferSysExEndReceived()",
                                   "tovikReceivedVersion(QString)", "checkForTovikHost()",
                                   "transferComplete(bool)", "fileDownloaded(bool)",
                                   "onEjectCompleted(bool)", "sendTransferSysEx()"}));
    QCOMPARE(meta.method(meta.indexOfMethod("checkForTovikHost()")).access(), QMetaMethod::Private);
    QCOMPARE(meta.method(meta.indexOfMethod("sendTransferSysEx()")).methodType(),
             QMetaMethod::Method);
}

QTEST_GUILESS_MAIN(TestMidiLink)
#include "tst_midilink.moc"
