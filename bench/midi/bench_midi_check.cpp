// Cost of one connection check with 16 ports on each side, the USB lookup being the Linux one
// over a fixture /proc tree (the sequencer's client-to-card answer is a table: no ALSA here).
//   bench_midi_check [checks]            wall time per check, two layouts
//   valgrind --tool=callgrind --instr-atstart=no bench_midi_check 200 [absent]
//                                        instructions of exactly 200 checks, instrument present
//                                        (or absent: every port looked up)
#include "midi/MidiHandler.h"
#include "midi/UsbIds_linux_p.h"
#include "sim/instrument/SimulatedInstrument.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <valgrind/callgrind.h>

#include <cstdio>
#include <map>

namespace {

constexpr int portsPerSide = 16;
constexpr int instrumentClient = 20;
constexpr int firstExtraClient = 28;

void writeUsbId(const QString &procRoot, int card, const QByteArray &ids)
{
    const QString dir = QStringLiteral("%1/asound/card%2").arg(procRoot).arg(card);
    QDir().mkpath(dir);
    QFile file(dir + QStringLiteral("/usbid"));
    if (file.open(QIODevice::WriteOnly))
        file.write(ids + '\n');
}

bool runCheck(MidiHandler &handler)
{
    bool present = false;
    QMetaObject::invokeMethod(&handler, "checkForTovikHost", Qt::DirectConnection,
                              Q_RETURN_ARG(bool, present));
    return present;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int checks = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 2000;
    const bool underValgrind = RUNNING_ON_VALGRIND;

    QTemporaryDir fixture;
    LinuxSoundRoots roots;
    roots.proc = fixture.filePath(QStringLiteral("proc"));
    roots.sys = fixture.filePath(QStringLiteral("sys"));
    // Card 0 is the instrument, cards 1.. the other USB devices; Midi Through has no card.
    std::map<int, int> cardOfClient = {{14, -1}, {instrumentClient, 0}};
    writeUsbId(roots.proc, 0, "1d6b:0104");
    const int extras = portsPerSide - 2;
    for (int i = 0; i < extras; ++i) {
        cardOfClient[firstExtraClient + i] = i + 1;
        writeUsbId(roots.proc, i + 1, QByteArray("1c75:") + QByteArray::number(0x200 + i, 16));
    }
    const AlsaCardOfClient cards = [&cardOfClient](int client) {
        const auto it = cardOfClient.find(client);
        return it == cardOfClient.end() ? -1 : it->second;
    };
    const UsbIdLookup lookup = [&](const QString &port, QString &vendor, QString &product) {
        return findUsbIdsForAlsaPort(port, vendor, product, roots, cards);
    };

    SimulatedInstrument instrument;
    instrument.setExtraPortCount(extras);
    instrument.plugIn();
    MidiHandler handler(instrument.backend(), lookup, nullptr);
    if (!runCheck(handler)) {
        std::fprintf(stderr, "instrument not found\n");
        return 1;
    }

    QTextStream out(stdout);
    if (underValgrind) {
        if (argc > 2 && QByteArray(argv[2]) == "absent") {
            instrument.unplug();
            runCheck(handler);
        }
        CALLGRIND_START_INSTRUMENTATION;
        for (int i = 0; i < checks; ++i)
            runCheck(handler);
        CALLGRIND_STOP_INSTRUMENTATION;
        out << "ran " << checks << " checks under callgrind\n";
        return 0;
    }

    const auto measure = [&](const char *what) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < checks; ++i)
            runCheck(handler);
        const double perCheckUs = timer.nsecsElapsed() / 1000.0 / checks;
        out << what << ": " << QString::number(perCheckUs, 'f', 1) << " us per check, "
            << QString::number(perCheckUs / 1e6 * 100.0, 'f', 4)
            << " % of one core at one check a second\n";
        out.flush();
    };
    measure("connected, instrument at index 1 of 16");
    // Lost: every port of both sides goes through the lookup.
    instrument.unplug();
    runCheck(handler);
    measure("instrument absent, 15 ports looked up per side");
    return 0;
}
