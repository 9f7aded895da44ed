#include "MidiTestSupport.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>

qint64 monotonicMs()
{
    QElapsedTimer timer;
    timer.start();
    return timer.msecsSinceReference();
}

template<typename... Args>
void SignalRecorder::listen(MidiHandler *handler, void (MidiHandler::*signal)(Args...),
                            const char *name)
{
    // Default connection: queued when the input thread emits, as the window's would be.
    connect(handler, signal, this,
            [this, name](Args... args) { add(QString::fromLatin1(name), QVariant(args)...); });
}

SignalRecorder::SignalRecorder(MidiHandler *handler)
{
#define LISTEN(signal) listen(handler, &MidiHandler::signal, #signal)
    LISTEN(deviceReenumerationFinished);
    LISTEN(deviceFound);
    LISTEN(deviceSetToTransferMode);
    LISTEN(updateTransferDone);
    LISTEN(transferSysExReceived);
    LISTEN(transferSysExEndReceived);
    LISTEN(tovikReceivedVersion);
#undef LISTEN
}

void SignalRecorder::add(const QString &name, const QVariant &argument)
{
    entries.append({name, argument, monotonicMs()});
    emit recorded(name);
}

int SignalRecorder::count(const QString &name, const QVariant &argument) const
{
    int n = 0;
    for (const Entry &entry : entries)
        n += entry.name == name && (!argument.isValid() || entry.argument == argument) ? 1 : 0;
    return n;
}

qint64 SignalRecorder::timeOf(const QString &name, int n) const
{
    for (const Entry &entry : entries) {
        if (entry.name == name && n-- == 0)
            return entry.atMs;
    }
    return -1;
}

QStringList SignalRecorder::sequence(int from) const
{
    QStringList names;
    for (const Entry &entry : entries.mid(from)) {
        names.append(entry.argument.isValid()
                         ? entry.name + QLatin1Char(':') + entry.argument.toString()
                         : entry.name);
    }
    return names;
}

bool SignalRecorder::waitFor(const QString &name, int times, int timeoutMs)
{
    QSignalSpy spy(this, &SignalRecorder::recorded);
    QElapsedTimer timer;
    timer.start();
    while (count(name) < times) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0)
            return false;
        spy.wait(static_cast<int>(left));
    }
    return true;
}

SimRig::SimRig(bool plugged)
    : instrument(std::make_unique<SimulatedInstrument>())
{
    if (plugged)
        instrument->plugIn();
}

void SimRig::makeHandler()
{
    handler =
        std::make_unique<MidiHandler>(instrument->backend(), instrument->usbIdLookup(), nullptr);
    recorder = std::make_unique<SignalRecorder>(handler.get());
}

bool SimRig::connectHandler()
{
    makeHandler();
    // First check after 1000 ms, version request 800 ms after opening.
    return recorder->waitFor("tovikReceivedVersion", 1, 1800 + 2 * lateMs);
}

QList<qint64> openedAfter(const SimulatedInstrument &instrument, qint64 since)
{
    QList<qint64> times;
    for (const SimMidiBus::Event &event : instrument.bus()->events()) {
        if (event.kind == SimMidiBus::EventKind::OpenedOutput && event.atMs >= since)
            times.append(event.atMs);
    }
    return times;
}

QList<qint64> receivedAfter(const SimulatedInstrument &instrument, const SysExMessage &message,
                            qint64 since)
{
    QList<qint64> times;
    const QByteArray wanted = SimulatedInstrument::bytes(message);
    for (const SimulatedInstrument::Received &entry : instrument.received()) {
        if (entry.bytes == wanted && entry.atMs >= since)
            times.append(entry.atMs);
    }
    return times;
}

QString logFileText()
{
    QString newest;
    QDirIterator it(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                    {QStringLiteral("updater-*.log")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (newest.isEmpty() || QFileInfo(path).lastModified() > QFileInfo(newest).lastModified())
            newest = path;
    }
    QFile file(newest);
    return !newest.isEmpty() && file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                                               : QString();
}
