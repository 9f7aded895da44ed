#pragma once

#include "diagnostics/LogFormat.h"
#include "midi/MidiHandler.h"
#include "sim/instrument/SimulatedInstrument.h"

#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

// Room for a loaded two-core machine, yet less than any step of the sequence; timers never fire
// early (5 ms for coarse rounding).
constexpr int lateMs = 150;
#define QVERIFY_AT(actual, expected)                                                               \
    QVERIFY2((actual) >= (expected)-5 && (actual) <= (expected) + lateMs,                          \
             qPrintable(QStringLiteral("at %1 ms, expected %2 ms").arg(actual).arg(expected)))

// Now, on the clock the simulated instrument stamps its log with.
inline qint64 monotonicMs()
{
    QElapsedTimer timer;
    timer.start();
    return timer.msecsSinceReference();
}

// Every signal of a MidiHandler as received on the GUI thread ("deviceFound:true"), with its time.
class SignalRecorder : public QObject
{
    Q_OBJECT
public:
    explicit SignalRecorder(MidiHandler *handler)
    {
        // Queued when the input thread emits, as the window's connections would be.
        const auto listen = [&](auto signal, const char *name) {
            connect(handler, signal, this, [this, name](auto... args) {
                QStringList parts{QString::fromLatin1(name)};
                (parts.append(QVariant(args).toString()), ...);
                sequence.append(parts.join(QLatin1Char(':')));
                times.append(monotonicMs());
                emit recorded();
            });
        };
        listen(&MidiHandler::deviceReenumerationFinished, "deviceReenumerationFinished");
        listen(&MidiHandler::deviceFound, "deviceFound");
        listen(&MidiHandler::deviceSetToTransferMode, "deviceSetToTransferMode");
        listen(&MidiHandler::updateTransferDone, "updateTransferDone");
        listen(&MidiHandler::transferSysExReceived, "transferSysExReceived");
        listen(&MidiHandler::transferSysExEndReceived, "transferSysExEndReceived");
        listen(&MidiHandler::tovikReceivedVersion, "tovikReceivedVersion");
    }
    qint64 timeOf(const QString &name, int n = 0) const // of the n-th emission, -1 if none
    {
        for (qsizetype i = 0; i < sequence.size(); ++i) {
            if (sequence[i].section(QLatin1Char(':'), 0, 0) == name && n-- == 0)
                return times[i];
        }
        return -1;
    }
    bool waitFor(const QString &name, int wanted, int timeoutMs)
    {
        // A spy's event loop, not a sleeping poll: the handler's timers must fire on time.
        QSignalSpy spy(this, &SignalRecorder::recorded);
        QElapsedTimer timer;
        timer.start();
        while (timeOf(name, wanted - 1) < 0 && timer.elapsed() < timeoutMs)
            spy.wait(static_cast<int>(timeoutMs - timer.elapsed()));
        return timeOf(name, wanted - 1) >= 0;
    }

    QStringList sequence;
    QList<qint64> times;

signals:
    void recorded();
};

// The instrument and a handler on it, destroyed in reverse order.
struct SimRig
{
    explicit SimRig(bool plugged = true)
    {
        if (plugged)
            instrument->plugIn();
    }
    void makeHandler()
    {
        handler = std::make_unique<MidiHandler>(instrument->backend(), instrument->usbIdLookup(),
                                                nullptr);
        recorder = std::make_unique<SignalRecorder>(handler.get());
    }
    bool connectHandler() // first check after 1000 ms, version request 800 ms after opening
    {
        makeHandler();
        return recorder->waitFor("tovikReceivedVersion", 1, 1800 + 2 * lateMs);
    }
    int signalCount() const { return static_cast<int>(recorder->sequence.size()); }
    // Times the handler opened the instrument's output port, or it received message.
    QList<qint64> openedAfter(qint64 since) const { return busEvents(since, {}); }
    QList<qint64> receivedAfter(const SysExMessage &message, qint64 since) const
    {
        return busEvents(since, message);
    }
    QList<qint64> busEvents(qint64 since, const SysExMessage &message) const
    {
        using Kind = SimulatedMidiBus::EventKind;
        QList<qint64> times;
        for (const SimulatedMidiBus::Event &event : instrument->bus()->events()) {
            if (event.kind == (message.empty() ? Kind::OpenedOutput : Kind::Received) &&
                event.bytes == message && event.atMs >= since)
                times.append(event.atMs);
        }
        return times;
    }

    std::unique_ptr<SimulatedInstrument> instrument = std::make_unique<SimulatedInstrument>();
    std::unique_ptr<MidiHandler> handler;
    std::unique_ptr<SignalRecorder> recorder;
};

// What this process's newest log file gained since construction: warnings, traces, port lists.
class LogWatch
{
public:
    int count(const QString &text) const
    {
        return static_cast<int>(logText().mid(start).count(text));
    }

private:
    static QString logText()
    {
        const QDir dir(
            logDirectoryFor(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                            QDir::tempPath()));
        QFile file(dir.entryInfoList({QStringLiteral("updater-*.log")}, QDir::Files, QDir::Time)
                       .value(0)
                       .absoluteFilePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    qsizetype start = logText().size();
};
