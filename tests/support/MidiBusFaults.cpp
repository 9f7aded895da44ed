#include "tests/support/MidiBusFaults.h"

#include "sim/instrument/SimulatedInstrument.h"

#include <QElapsedTimer>

#include <algorithm>

MidiBusFaults::MidiBusFaults(std::shared_ptr<SimulatedMidiBus> bus)
    : hooked(std::move(bus))
{
    hooked->setHooks(this);
}

MidiBusFaults::~MidiBusFaults()
{
    hooked->setHooks(nullptr);
}

std::vector<MidiBusFaults::Event> MidiBusFaults::events() const
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    return log;
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
    // A count of failures to come is used up one call at a time.
    int *left = fault == Fault::Send           ? &sendFailures
                : fault == Fault::Construction ? &constructionFailures
                                               : nullptr;
    if (left != nullptr)
        return *left > 0 && (--*left, true);
    return fault == Fault::Loopback ? loopback
                                    : !failingPortName.empty() && portName == failingPortName;
}

void MidiBusFaults::record(EventKind kind, const unsigned char *bytes, std::size_t size)
{
    QElapsedTimer clock;
    clock.start();
    std::lock_guard<std::mutex> lock(faultsMutex);
    log.push_back(
        {kind,
         bytes ? std::vector<unsigned char>(bytes, bytes + size) : std::vector<unsigned char>(),
         clock.msecsSinceReference()});
}
