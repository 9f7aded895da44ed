// The once-a-second check against the simulated instrument.
#include "tests/support/Files.h"
#include "tests/support/SimulatedRig.h"

#include "diagnostics/Logging.h"

namespace {
const QString throughPort = QStringLiteral("Midi Through:Midi Through Port-0 14:0");
const QString tovikPort = QStringLiteral("Tovik:Tovik MIDI 1 20:0");
constexpr int nextCheckMs = pollEveryMs + lateMs;
} // namespace

class TestMidiLink : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initLogging(QStringLiteral("test")); }

    void foundThenLost()
    {
        const LogWatch log;
        SimulatedRig rig;
        const qint64 start = SignalRecorder::nowMs();
        QVERIFY(rig.connectHandler());
        QVERIFY_AT(rig.recorder->timeOf("deviceFound") - start, pollEveryMs);
        const QList<qint64> requests = rig.receivedAfter(versionRequest, start);
        QCOMPARE(requests.size(), 1);
        QVERIFY_AT(requests[0] - rig.openedAfter(start).value(0), versionAfterOpeningMs);

        // Further checks while connected, or while absent, emit nothing, ask nothing, log nothing.
        QTest::qWait(2 * pollEveryMs + 200);
        rig.instrument->unplug();
        QVERIFY(rig.recorder->waitFor("deviceFound", 2, nextCheckMs));
        QTest::qWait(pollEveryMs + 200);
        rig.instrument->setVersion(QStringLiteral("1.5.1"));
        rig.instrument->plugIn();
        QVERIFY(rig.recorder->waitFor("tovikReceivedVersion", 2, versionAskedMs + 2 * lateMs));
        QCOMPARE(rig.recorder->events,
                 QStringList({"deviceFound true", "tovikReceivedVersion 1.5.0", "deviceFound false",
                              "deviceFound true", "tovikReceivedVersion 1.5.1"}));
        QCOMPARE(rig.receivedAfter(versionRequest, start).size(), 2);
        // The list changed three times: inputs, then outputs, each name followed by a bar.
        const QString both = throughPort + '|' + tovikPort + '|', through = throughPort + '|';
        QCOMPARE(log.count("MIDI port list changed: "), 3);
        QCOMPARE(log.count("MIDI port list changed: " + both + '/' + both + '\n'), 2);
        QCOMPARE(log.count("MIDI port list changed: " + through + '/' + through + '\n'), 1);
    }

    void oneSideOnly_data()
    {
        QTest::addColumn<bool>("input");
        QTest::addColumn<bool>("output");
        QTest::newRow("input without output") << true << false;
        QTest::newRow("output without input") << false << true;
    }

    void oneSideOnly()
    {
        QFETCH(bool, input);
        QFETCH(bool, output);
        SimulatedRig rig(false);
        rig.instrument->bus()->setInstrumentPorts(input, output);
        rig.makeHandler();
        QVERIFY(!rig.recorder->waitFor("deviceFound", 1, pollEveryMs + nextCheckMs));

        // Connected first, then one side goes: the link closes and says so once.
        rig.instrument->bus()->setInstrumentPorts(true, true);
        QVERIFY(rig.recorder->waitFor("deviceFound", 1, nextCheckMs));
        rig.instrument->bus()->setInstrumentPorts(input, output);
        QVERIFY(rig.recorder->waitFor("deviceFound", 2, nextCheckMs));
        QCOMPARE(rig.recorder->events.filter("deviceFound"),
                 QStringList({"deviceFound true", "deviceFound false"}));
    }

    void errorOnOnePort()
    {
        // A port whose name cannot be read is skipped; the instrument behind it is still found.
        SimulatedRig rig;
        rig.instrument->setPortNameError(throughPort.toStdString());
        const LogWatch log;
        QVERIFY(rig.connectHandler());
        QCOMPARE(log.count("<enumeration error>"), 1);
    }

    void constructionFailureLeavesLinkIdle()
    {
        SimulatedRig rig;
        rig.instrument->failNextConstructions(1);
        const LogWatch log;
        rig.makeHandler();
        QCOMPARE(log.count("MH: MIDI service unavailable"), 1);
        QCOMPARE(log.count("error creating sequencer client object"), 1);
        // Nothing polls: the instrument stays unseen.
        QVERIFY(!rig.recorder->waitFor("deviceFound", 1, pollEveryMs + nextCheckMs));
        QVERIFY(rig.instrument->received().isEmpty());
        // The real backend on a machine without a sequencer never throws either.
        const MidiHandler real(nullptr);
    }

    void sendErrorReconnectsOnce_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("delivered");
        QTest::newRow("one driver error") << 1 << 1;
        QTest::newRow("two driver errors") << 2 << 0;
    }

    void sendErrorReconnectsOnce()
    {
        QFETCH(int, failures);
        QFETCH(int, delivered);
        SimulatedRig rig;
        QVERIFY(rig.connectHandler());
        const LogWatch log;
        rig.instrument->failNextSends(failures);
        const qint64 sent = SignalRecorder::nowMs();
        rig.handler->fileDownloaded(true);
        QCOMPARE(rig.recorder->count("deviceSetToTransferMode"), 1);
        QCOMPARE(log.count("] MH: RtMidi error (type 8 ): "), failures); // a message line
        QTest::qWait(nextCheckMs);
        QCOMPARE(rig.receivedAfter(updateMode, sent).size(), delivered);
        QCOMPARE(rig.recorder->events.count("deviceFound true"), 2); // reconnected once
        // A reconnection is a mode switch: no version request follows it.
        QCOMPARE(rig.receivedAfter(versionRequest, sent).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMidiLink)
#include "tst_midilink.moc"
