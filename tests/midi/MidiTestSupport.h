#pragma once

#include "midi/MidiHandler.h"
#include "sim/instrument/SimulatedInstrument.h"

#include <QObject>
#include <QStringList>
#include <QVariant>

#include <memory>

// Room for a loaded two-core machine; timers never fire early (5 ms for coarse rounding).
constexpr int lateMs = 300;
#define QVERIFY_NEAR(actual, expected, late)                                                       \
    QVERIFY2((actual) >= (expected)-5 && (actual) <= (expected) + (late),                          \
             qPrintable(QStringLiteral("at %1 ms, expected %2 ms").arg(actual).arg(expected)))
#define QVERIFY_AT(actual, expected) QVERIFY_NEAR(actual, expected, lateMs)

// Now, on the clock the simulated instrument stamps its log with.
qint64 monotonicMs();

// Records every signal of a MidiHandler on the GUI thread, in order and with its time, whichever
// thread emitted it.
class SignalRecorder : public QObject
{
    Q_OBJECT
public:
    struct Entry
    {
        QString name;
        QVariant argument;
        qint64 atMs;
    };

    explicit SignalRecorder(MidiHandler *handler);

    QList<Entry> entries;
    // Emissions of name, only those with this argument when one is given.
    int count(const QString &name, const QVariant &argument = QVariant()) const;
    // Time of the n-th (from 0) emission of name, -1 when there is none.
    qint64 timeOf(const QString &name, int n = 0) const;
    // Signal names in order, arguments appended after a colon ("deviceFound:true").
    QStringList sequence(int from = 0) const;
    // Waits (QSignalSpy::wait) until name was emitted `times` times or timeoutMs passed.
    bool waitFor(const QString &name, int times, int timeoutMs);

signals:
    void recorded(QString name);

private:
    template<typename... Args>
    void listen(MidiHandler *handler, void (MidiHandler::*signal)(Args...), const char *name);
    void add(const QString &name, const QVariant &argument = QVariant());
};

// The instrument and a handler on it, destroyed in reverse order.
struct SimRig
{
    explicit SimRig(bool plugged = true);
    void makeHandler();
    // makeHandler, then wait for the first connection's version reply.
    bool connectHandler();
    int signalCount() const { return static_cast<int>(recorder->entries.size()); }

    std::unique_ptr<SimulatedInstrument> instrument;
    std::unique_ptr<MidiHandler> handler;
    std::unique_ptr<SignalRecorder> recorder;
};

// Times the handler opened the instrument's output port after `since`.
QList<qint64> openedAfter(const SimulatedInstrument &instrument, qint64 since);
// Times the instrument received `message` after `since`.
QList<qint64> receivedAfter(const SimulatedInstrument &instrument, const SysExMessage &message,
                            qint64 since);

// The text of this process's newest log file (initLogging must have run), "" when there is none.
QString logFileText();

// What the log file gained since construction: warnings, traces, port lists.
class LogWatch
{
public:
    QString added() const { return logFileText().mid(start); }
    int count(const QString &text) const { return static_cast<int>(added().count(text)); }

private:
    qsizetype start = logFileText().size();
};
