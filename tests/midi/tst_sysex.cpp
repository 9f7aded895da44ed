#include "midi/SysExMessage.h"

#include <QByteArray>
#include <QtTest>

Q_DECLARE_METATYPE(SysExKind)

namespace {
constexpr SysExKind none = SysExKind::Unrecognised;

SysExMessage fromHex(const char *hex)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    return SysExMessage(raw.begin(), raw.end());
}
} // namespace

class TestSysEx : public QObject
{
    Q_OBJECT
private slots:
    void classify_data()
    {
        QTest::addColumn<SysExMessage>("message");
        QTest::addColumn<SysExKind>("kind");
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<SysExMessage>("host"); // the host message with these bytes, if any

        const auto row = [](const char *name, const char *hex, SysExKind kind = none,
                            const SysExMessage &host = SysExMessage()) {
            QTest::newRow(name) << fromHex(hex) << kind << QByteArray() << host;
        };
        const auto reply = [](const char *name, const char *hex, const QByteArray &version) {
            QTest::newRow(name) << fromHex(hex) << SysExKind::VersionReply << version
                                << SysExMessage();
        };
        // Only the two transfer messages come back identical: a loop-back of them looks like a
        // confirmation, of the others like nothing.
        row("version request", "F0 00 03 01 02 01 F7", none, MIDI_SYSEX_VERSION_REQUEST);
        row("transfer start", "F0 7E 7F 09 03 F7", SysExKind::TransferStartAck,
            MIDI_SYSEX_TRANSFER_START);
        row("transfer end", "F0 7E 7F 09 04 F7", SysExKind::TransferEndAck,
            MIDI_SYSEX_TRANSFER_END);
        row("update mode", "F0 00 01 03 01 01 F7", none, MIDI_SYSEX_UPDATE_MODE);
        row("update finish", "F0 00 01 03 01 02 F7", none, MIDI_SYSEX_UPDATE_FINISH);
        reply("version 1.5.0", "F0 7D 01 31 2E 35 2E 30 F7", "1.5.0");
        row("four characters", "F0 7D 01 31 2E 35 30 F7");
        reply("trailing blank kept", "F0 7D 01 31 2E 35 2E 30 20 F7", "1.5.0 ");
        reply("long version", "F0 7D 01 31 30 2E 31 32 2E 31 33 F7", "10.12.13");
        reply("zero byte not a terminator", "F0 7D 01 31 00 35 2E 30 F7",
              QByteArray("1\0005.0", 5));
        reply("high bytes verbatim", "F0 7D 01 E9 2E 35 2E 30 F7", "\xE9.5.0");
        row("wrong command", "F0 7D 02 31 2E 35 2E 30 F7");
        row("wrong manufacturer", "F0 7E 01 31 2E 35 2E 30 F7");
        row("no end byte", "F0 7D 01 31 2E 35 2E 30 00");
        row("no start byte", "00 7D 01 31 2E 35 2E 30 F7");
        row("other sub-command", "F0 7E 7F 09 05 F7");
        row("other device", "F0 7E 00 09 03 F7");
        row("seven-byte start", "F0 7E 7F 09 03 00 F7");
        row("five-byte start", "F0 7E 7F 09 03");
        row("ack without end", "F0 7E 7F 09 03 00");
        row("note on", "90 3C 64");
        row("timing clock", "F8");
        row("active sensing", "FE");
        row("lone start", "F0");
        row("empty", "");
        // The simulated instrument builds its replies with makeVersionReply.
        QTest::newRow("made reply") << makeVersionReply("2.0.10") << SysExKind::VersionReply
                                    << QByteArray("2.0.10") << SysExMessage();
        QTest::newRow("made reply too short")
            << makeVersionReply("1.50") << none << QByteArray() << SysExMessage();
    }

    void classify()
    {
        QFETCH(SysExMessage, message);
        QFETCH(SysExKind, kind);
        QFETCH(QByteArray, version);
        QFETCH(SysExMessage, host);
        if (!host.empty())
            QCOMPARE(host, message);
        const SysExClassification result = classifySysEx(message);
        QCOMPARE(result.kind, kind);
        QCOMPARE(QByteArray::fromStdString(result.version), version);
        // The pointer form must agree with the vector form.
        const SysExClassification raw = classifySysEx(message.data(), message.size());
        QCOMPARE(raw.kind, kind);
        QCOMPARE(raw.version, result.version);
    }
};

QTEST_APPLESS_MAIN(TestSysEx)
#include "tst_sysex.moc"
