#include "tests/support/MidiBusFaults.h"

#include "sim/instrument/SimulatedInstrument.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {
// Counts down a fault set for the next few calls.
bool take(int &count)
{
    if (count <= 0)
        return false;
    --count;
    return true;
}
} // namespace

MidiBusFaults::MidiBusFaults(std::shared_ptr<SimulatedMidiBus> bus)
    : hooked(std::move(bus))
{
    hooked->setHooks(this);
}

MidiBusFaults::~MidiBusFaults()
{
    hooked->setHooks(nullptr);
}

void MidiBusFaults::failNextSends(int count)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    sendFailures = count;
}

void MidiBusFaults::failNextConstructions(int count)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    constructionFailures = count;
}

void MidiBusFaults::setPortNameError(const std::string &portName)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    failingPortName = portName;
}

void MidiBusFaults::setLoopback(bool on)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    loopback = on;
}

std::vector<MidiBusFaults::Event> MidiBusFaults::events() const
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    return log;
}

void MidiBusFaults::clearEvents()
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    log.clear();
}

QList<MidiBusFaults::Received> MidiBusFaults::received() const
{
    QList<Received> list;
    for (const Event &event : events()) {
        if (event.kind == EventKind::Received)
            list.append({SimulatedInstrument::bytes(event.bytes), event.atMs});
    }
    return list;
}

int MidiBusFaults::receivedCount(const QByteArray &message) const
{
    const QList<Received> all = received();
    return int(std::count_if(all.cbegin(), all.cend(),
                             [&](const Received &entry) { return entry.bytes == message; }));
}

bool MidiBusFaults::applies(SimulatedMidiBus::HostFault fault, const std::string &portName)
{
    using Fault = SimulatedMidiBus::HostFault;
    std::lock_guard<std::mutex> lock(faultsMutex);
    switch (fault) {
    case Fault::Construction:
        return take(constructionFailures);
    case Fault::PortName:
        return !failingPortName.empty() && portName == failingPortName;
    case Fault::Send:
        return take(sendFailures);
    case Fault::Loopback:
        return loopback;
    }
    return false;
}

void MidiBusFaults::record(EventKind kind, const unsigned char *bytes, std::size_t size)
{
    QElapsedTimer clock;
    clock.start();
    Event event{kind, {}, clock.msecsSinceReference()};
    if (bytes != nullptr)
        event.bytes.assign(bytes, bytes + size);
    std::lock_guard<std::mutex> lock(faultsMutex);
    log.push_back(std::move(event));
}
