#pragma once

#include "sim/instrument/SimulatedMidiBus.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <mutex>

// The driver faults tests give a simulated MIDI bus (a rig's or the world's), and a record of
// what reached the instrument: its port openings and closings and every message, with the time
// the bus took it (QElapsedTimer::msecsSinceReference()).
class MidiBusFaults : public SimulatedMidiBus::Hooks
{
public:
    using EventKind = SimulatedMidiBus::EventKind;
    struct Event
    {
        EventKind kind;
        std::vector<unsigned char> bytes; // for Received
        qint64 atMs;
    };
    struct Received
    {
        QByteArray bytes;
        qint64 atMs;
    };

    explicit MidiBusFaults(std::shared_ptr<SimulatedMidiBus> bus);
    ~MidiBusFaults() override;

    void failNextSends(int count) { set(sendFailures, count); }
    void failNextConstructions(int count) { set(constructionFailures, count); }
    // Asking this port's name throws, as a driver in trouble does.
    void setPortNameError(const std::string &portName) { set(failingPortName, portName); }
    void setLoopback(bool on) { set(loopback, on); }

    std::vector<Event> events() const;
    void clearEvents() { set(log, {}); }
    // What the instrument received, oldest first.
    QList<Received> received() const;
    int receivedCount(const QByteArray &message) const;

    bool applies(SimulatedMidiBus::HostFault fault, const std::string &portName) override;
    void record(EventKind kind, const unsigned char *bytes, std::size_t size) override;

private:
    template<typename T> void set(T &field, const T &value)
    {
        std::lock_guard<std::mutex> lock(faultsMutex);
        field = value;
    }

    std::shared_ptr<SimulatedMidiBus> hooked;
    mutable std::mutex faultsMutex;
    int sendFailures = 0;
    int constructionFailures = 0;
    std::string failingPortName;
    bool loopback = false;
    std::vector<Event> log;
};
