// The pure parts of the link: SysEx classification and the USB identity of a port.
#include "midi/SysExMessage.h"
#include "midi/UsbIds.h"

#include <QtTest>

using DeviceList = std::vector<MediaDeviceEntry>;
Q_DECLARE_METATYPE(DeviceList)
Q_DECLARE_METATYPE(SysExKind)

namespace {
constexpr SysExKind none = SysExKind::Unrecognised;

SysExMessage fromHex(const char *hex)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    return SysExMessage(raw.begin(), raw.end());
}

MediaDeviceEntry device(const char *name, const char *hardwareId)
{
    MediaDeviceEntry entry;
    if (name) // null: the property could not be read
        entry.friendlyName = QString::fromLatin1(name);
    if (hardwareId)
        entry.hardwareId = QString::fromLatin1(hardwareId);
    return entry;
}
} // namespace

class TestMidiPure : public QObject
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
                            const SysExMessage &host = {}, const QByteArray &version = {}) {
            QTest::newRow(name) << fromHex(hex) << kind << version << host;
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
        const SysExKind reply = SysExKind::VersionReply;
        row("version 1.5.0", "F0 7D 01 31 2E 35 2E 30 F7", reply, {}, "1.5.0");
        row("long, zero and high bytes verbatim", "F0 7D 01 31 30 00 E9 2E 31 20 F7", reply, {},
            QByteArray("10\0\xE9.1 ", 7));
        row("four characters", "F0 7D 01 31 2E 35 30 F7");
        row("wrong command", "F0 7D 02 31 2E 35 2E 30 F7");
        row("no end byte", "F0 7D 01 31 2E 35 2E 30 00");
        row("other sub-command", "F0 7E 7F 09 05 F7");
        row("other device", "F0 7E 00 09 03 F7");
        row("seven-byte start", "F0 7E 7F 09 03 00 F7");
        row("lone start", "F0");
        row("empty", "");
    }

    void classify()
    {
        QFETCH(SysExMessage, message);
        QFETCH(SysExKind, kind);
        QFETCH(QByteArray, version);
        QFETCH(SysExMessage, host);
        if (!host.empty())
            QCOMPARE(host, message);
        const SysExClassification result = classifySysEx(message.data(), message.size());
        QCOMPARE(result.kind, kind);
        QCOMPARE(QByteArray::fromStdString(result.version), version);
    }

    void matchDevices_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<DeviceList>("devices");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("ids");
        QTest::addColumn<bool>("instrument");
        const char *tovikId = "USB\\VID_1D6B&PID_0104&MI_01";
        const MediaDeviceEntry tovik = device("Tovik", tovikId);
        const MediaDeviceEntry other = device("Keystep", "USB\\VID_1C75&PID_0288&MI_00");
        const auto row = [](const char *tag, const char *port, const DeviceList &devices,
                            bool found, const char *ids, bool instrument) {
            QTest::newRow(tag) << QString(port) << devices << found << QString(ids) << instrument;
        };
        row("case, blanks, number", "  TOVIK \t  Midi   12  ",
            {other, device("Tovik MIDI", tovikId)}, true, "1D6B:0104", true);
        row("only the last number goes", "Tovik 2 3",
            {device("Tovik", "USB\\VID_1D6B&PID_0999"), device("Tovik 2 7", tovikId)}, true,
            "1D6B:0104", true);
        row("digits glued to the name stay", "Tovik2", {other, tovik}, false, ":", false);
        row("ids swapped, revision", "Tovik 1",
            {device("Tovik", "USB\\PID_0104&VID_1D6B&REV_01\\x")}, true, "1D6B:0104", true);
        row("no vid", "Tovik 1", {device("Tovik", "USB\\PID_0104&MI_01")}, true, ":0104", false);
        row("first of two wins, other product", "Tovik 1",
            {device("Tovik", "USB\\VID_1D6B&PID_0999"), tovik}, true, "1D6B:0999", false);
        row("unreadable or malformed entries skipped", "Tovik 1",
            {device(nullptr, "USB\\VID_1D6B&PID_0104"), device("Tovik", nullptr),
             device("Tovik", "VID_1D6B&PID_0104"), tovik},
            true, "1D6B:0104", true);
    }

    void matchDevices()
    {
        QFETCH(QString, port);
        QFETCH(DeviceList, devices);
        QFETCH(bool, found);
        QFETCH(QString, ids);
        QFETCH(bool, instrument);
        QString vendorId;
        QString productId;
        QCOMPARE(matchUsbIdsInDevices(port, devices, vendorId, productId), found);
        QCOMPARE(vendorId + ':' + productId, ids);
        QCOMPARE(matchesInstrumentIds(found, vendorId, productId), instrument);
        QVERIFY(!matchesInstrumentIds(false, vendorId, productId)); // a failed lookup never matches
    }
};

QTEST_APPLESS_MAIN(TestMidiPure)
#include "tst_midipure.moc"
