#pragma once

#include "tests/support/MidiBusFaults.h"
#include "tests/support/SignalRecorder.h"

#include "midi/MidiHandler.h"
#include "sim/instrument/SimulatedInstrument.h"

#include <QtTest>

#include <memory>

// The link's timings as a test waits for them, from the program's own constants. lateMs: room
// for a loaded two-core machine, yet less than any step of a sequence; timers never fire early
// (5 ms for coarse rounding).
constexpr int lateMs = 150;
// A handler's first check finds a plugged instrument; the version request follows the opening.
constexpr int versionAskedMs = MidiLink::pollIntervalMs + MidiLink::versionRequestDelayMs;
// A mode switch reopens the ports at the first detection tick when the instrument is back...
constexpr int reopenedMs = MidiLink::detectionStartDelayMs + MidiLink::detectIntervalMs;
// ...and gives up after the last tick when it is not.
constexpr int detectionBudgetMs =
    MidiLink::detectionStartDelayMs + (MidiLink::detectTickLimit + 1) * MidiLink::detectIntervalMs;
// From a reopening: the n-th send (from 0), and the end of the final wait after the last send.
constexpr int sendMs(int n)
{
    return MidiLink::firstSendDelayMs + n * MidiLink::resendIntervalMs;
}
constexpr int finalWaitEndMs = sendMs(MidiLink::sendsPerConnection - 1) + MidiLink::finalWaitMs;

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
