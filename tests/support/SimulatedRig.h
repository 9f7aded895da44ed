#pragma once

#include "tests/support/MidiBusFaults.h"
#include "tests/support/SignalRecorder.h"

#include "midi/MidiHandler.h"
#include "sim/instrument/SimulatedInstrument.h"

#include <QtTest>

#include <memory>

// The link's numbers, written out once and named apart from the program's constants: an
// expectation computed from those could not fail. lateMs: room for a loaded two-core machine, yet
// less than any step of a sequence; timers never fire early (5 ms for coarse rounding).
constexpr int lateMs = 150;
constexpr int pollEveryMs = 1000;               // the check for the instrument outside a switch
constexpr int versionAfterOpeningMs = 800;      // from the opening to the version request
constexpr int finishAfterCopyMs = 750;          // from the successful copy to its sequence
constexpr int firstSendAfterReopenMs = 400;     // from a reopening to the first send
constexpr int releasedAfterFirstSendMs = 15000; // from the first send to the release
// A handler's first check finds a plugged instrument; the version request follows the opening.
constexpr int versionAskedMs = 1800;
// A mode switch reopens the ports at the first 50 ms detection tick, 2000 ms after the switch,
// when the instrument is back, and gives up after the 100th tick when it is not.
constexpr int reopenedMs = 2050;
constexpr int detectionBudgetMs = 7050;
// From a reopening: the n-th send (from 0), 500 ms apart, and the end of the 3000 ms final wait
// after the third send.
constexpr int sendMs(int n)
{
    return firstSendAfterReopenMs + n * 500;
}
constexpr int finalWaitEndMs = 4400;

// The host's messages, byte for byte.
inline const SysExMessage versionRequest{0xF0, 0x00, 0x03, 0x01, 0x02, 0x01, 0xF7};
inline const SysExMessage transferStart{0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7};
inline const SysExMessage transferEnd{0xF0, 0x7E, 0x7F, 0x09, 0x04, 0xF7};
inline const SysExMessage updateMode{0xF0, 0x00, 0x01, 0x03, 0x01, 0x01, 0xF7};
inline const SysExMessage updateFinish{0xF0, 0x00, 0x01, 0x03, 0x01, 0x02, 0xF7};

#define QVERIFY_AT(actual, expected)                                                               \
    QVERIFY2((actual) >= (expected)-5 && (actual) <= (expected) + lateMs,                          \
             qPrintable(QStringLiteral("at %1 ms, expected %2 ms").arg(actual).arg(expected)))

// The simulated instrument with its bus's faults and record at hand.
struct TestInstrument : SimulatedInstrument, MidiBusFaults
{
    TestInstrument()
        : MidiBusFaults(bus())
    {
    }
};

// A simulated instrument and a handler on it, destroyed in reverse order; the recorder has
// every signal of the handler.
struct SimulatedRig
{
    explicit SimulatedRig(bool plugged = true)
    {
        if (plugged)
            instrument->plugIn();
    }
    void makeHandler()
    {
        handler = std::make_unique<MidiHandler>(instrument->backend(), instrument->usbIdLookup(),
                                                nullptr);
        recorder = std::make_unique<SignalRecorder>();
        MidiHandler *h = handler.get();
        recorder->listen(h, &MidiHandler::deviceReenumerationFinished,
                         "deviceReenumerationFinished");
        recorder->listen(h, &MidiHandler::deviceFound, "deviceFound");
        recorder->listen(h, &MidiHandler::deviceSetToTransferMode, "deviceSetToTransferMode");
        recorder->listen(h, &MidiHandler::updateTransferDone, "updateTransferDone");
        recorder->listen(h, &MidiHandler::transferSysExReceived, "transferSysExReceived");
        recorder->listen(h, &MidiHandler::transferSysExEndReceived, "transferSysExEndReceived");
        recorder->listen(h, &MidiHandler::tovikReceivedVersion, "tovikReceivedVersion");
    }
    bool connectHandler()
    {
        makeHandler();
        return recorder->waitFor("tovikReceivedVersion", 1, versionAskedMs + 2 * lateMs);
    }
    // When the handler opened the instrument's output port, or the instrument received message.
    QList<qint64> openedAfter(qint64 since) const { return receivedAfter({}, since); }
    QList<qint64> receivedAfter(const SysExMessage &message, qint64 since) const
    {
        using Kind = SimulatedMidiBus::EventKind;
        QList<qint64> times;
        for (const MidiBusFaults::Event &event : instrument->events()) {
            if (event.kind == (message.empty() ? Kind::OpenedOutput : Kind::Received) &&
                event.bytes == message && event.atMs >= since)
                times.append(event.atMs);
        }
        return times;
    }

    std::unique_ptr<TestInstrument> instrument = std::make_unique<TestInstrument>();
    std::unique_ptr<MidiHandler> handler;
    std::unique_ptr<SignalRecorder> recorder;
};
