#include "MidiTestSupport.h"

#include <QDir>
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

SignalRecorder::SignalRecorder(MidiHandler *handler)
{
    // Default connections: queued when the input thread emits, as the window's would be.
    connect(handler, &MidiHandler::deviceReenumerationFinished, this,
            [this](bool success) { add(QStringLiteral("deviceReenumerationFinished"), success); });
    connect(handler, &MidiHandler::deviceFound, this,
            [this](bool found) { add(QStringLiteral("deviceFound"), found); });
    connect(handler, &MidiHandler::deviceSetToTransferMode, this,
            [this] { add(QStringLiteral("deviceSetToTransferMode")); });
    connect(handler, &MidiHandler::updateTransferDone, this,
            [this] { add(QStringLiteral("updateTransferDone")); });
    connect(handler, &MidiHandler::transferSysExReceived, this,
            [this] { add(QStringLiteral("transferSysExReceived")); });
    connect(handler, &MidiHandler::transferSysExEndReceived, this,
            [this] { add(QStringLiteral("transferSysExEndReceived")); });
    connect(handler, &MidiHandler::tovikReceivedVersion, this, [this](const QString &version) {
        add(QStringLiteral("tovikReceivedVersion"), version);
    });
}

void SignalRecorder::add(const QString &name, const QVariant &argument)
{
    entries.append({name, argument, monotonicMs()});
    emit recorded(name);
}

int SignalRecorder::count(const QString &name) const
{
    int n = 0;
    for (const Entry &entry : entries)
        n += entry.name == name ? 1 : 0;
    return n;
}

int SignalRecorder::count(const QString &name, const QVariant &argument) const
{
    int n = 0;
    for (const Entry &entry : entries)
        n += (entry.name == name && entry.argument == argument) ? 1 : 0;
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

QStringList SignalRecorder::sequence() const
{
    QStringList names;
    for (const Entry &entry : entries) {
        if (entry.argument.isValid())
            names.append(entry.name + QLatin1Char(':') + entry.argument.toString());
        else
            names.append(entry.name);
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

namespace {
std::mutex warningMutex;
QStringList warnings;
QtMessageHandler previousHandler = nullptr;

void captureHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg) {
        std::lock_guard<std::mutex> lock(warningMutex);
        warnings.append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}
} // namespace

WarningCapture::WarningCapture()
{
    previousHandler = qInstallMessageHandler(captureHandler);
}

WarningCapture::~WarningCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList WarningCapture::lines() const
{
    std::lock_guard<std::mutex> lock(warningMutex);
    return warnings;
}

int WarningCapture::countContaining(const QString &text) const
{
    int n = 0;
    for (const QString &line : lines())
        n += line.contains(text) ? 1 : 0;
    return n;
}

void WarningCapture::clear()
{
    std::lock_guard<std::mutex> lock(warningMutex);
    warnings.clear();
}

SimRig::SimRig(bool plugged)
    : instrument(std::make_unique<SimulatedInstrument>())
{
    if (plugged)
        instrument->plugIn();
}

SimRig::~SimRig()
{
    recorder.reset();
    handler.reset();
    instrument.reset();
}

void SimRig::makeHandler()
{
    handler =
        std::make_unique<MidiHandler>(instrument->backend(), instrument->usbIdLookup(), nullptr);
    recorder = std::make_unique<SignalRecorder>(handler.get());
}

qint64 openedAfter(const SimulatedInstrument &instrument, qint64 since, int n)
{
    for (const SimMidiBus::Event &event : instrument.bus()->events()) {
        if (event.kind == SimMidiBus::EventKind::OpenedOutput && event.atMs >= since && n-- == 0)
            return event.atMs;
    }
    return -1;
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
    const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QString newest;
    QDateTime newestTime;
    for (const QString &base : {root}) {
        QDirIterator it(base, {QStringLiteral("updater-*.log")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QDateTime modified = QFileInfo(path).lastModified();
            if (newest.isEmpty() || modified > newestTime) {
                newest = path;
                newestTime = modified;
            }
        }
    }
    QFile file(newest);
    if (newest.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}
