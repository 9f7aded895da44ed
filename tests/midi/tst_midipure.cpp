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

// Writes content unless it is null (the file is then absent).
bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return content.isNull() ||
           (file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
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

#if defined(__linux__)
    void linuxLookup_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("client");
        QTest::addColumn<QByteArray>("procUsbid"); // null: the file is absent
        QTest::addColumn<QByteArray>("sysVendor"); // both null: no sys tree
        QTest::addColumn<QByteArray>("sysProduct");
        QTest::addColumn<bool>("found");
        const auto row = [](const char *tag, const char *port, int client, const char *usbid,
                            const char *vendor, const char *product, bool found) {
            QTest::newRow(tag) << QString(port) << client << QByteArray(usbid) << QByteArray(vendor)
                               << QByteArray(product) << found;
        };
        const char *tovik = "Tovik:Tovik MIDI 1 20:0";
        const char *usbid = "1d6b:0104\n";
        row("proc usbid", tovik, 20, usbid, nullptr, nullptr, true);
        row("malformed proc, sys decides", tovik, 20, "1d6b-0104\n", "1d6b\n", "0104\n", true);
        row("malformed proc only", tovik, 20, "1d6b:01045\n", nullptr, nullptr, false);
        row("sys missing idProduct", tovik, 20, nullptr, "1d6b\n", nullptr, false);
        row("user client without card", "Midi Through:Midi Through Port-0 14:0", 14, usbid, nullptr,
            nullptr, false);
        row("client not a number", "Tovik:Tovik MIDI 1 x:0", -1, usbid, nullptr, nullptr, false);
    }

    void linuxLookup()
    {
        QFETCH(QString, port);
        QFETCH(int, client);
        QFETCH(QByteArray, procUsbid);
        QFETCH(QByteArray, sysVendor);
        QFETCH(QByteArray, sysProduct);
        QFETCH(bool, found);

        QTemporaryDir dir;
        LinuxSoundRoots roots;
        roots.proc = dir.filePath(QStringLiteral("proc"));
        roots.sys = dir.filePath(QStringLiteral("sys"));
        QVERIFY(writeFile(roots.proc + "/asound/card1/usbid", procUsbid));
        if (!sysVendor.isNull()) {
            // The card's device is an interface; the ids sit on the USB device above it.
            const QString usbDevice = roots.sys + "/devices/pci0000:00/usb1/1-2";
            QVERIFY(QDir().mkpath(usbDevice + "/1-2:1.1"));
            QVERIFY(QDir().mkpath(roots.sys + "/class/sound/card1"));
            QVERIFY(QFile::link(usbDevice + "/1-2:1.1", roots.sys + "/class/sound/card1/device"));
            QVERIFY(writeFile(usbDevice + "/idVendor", sysVendor));
            QVERIFY(writeFile(usbDevice + "/idProduct", sysProduct));
        }

        // The sequencer: client 20 is the instrument on card 1, others have no card.
        QList<int> asked;
        const AlsaCardOfClient cardOf = [&](int seqClient) {
            asked.append(seqClient);
            return seqClient == 20 ? 1 : -1;
        };
        QString vendorId;
        QString productId;
        QCOMPARE(findUsbIdsForAlsaPort(port, vendorId, productId, roots, cardOf), found);
        QCOMPARE(vendorId + ':' + productId, QString(found ? "1D6B:0104" : ":"));
        QCOMPARE(asked, client >= 0 ? QList<int>{client} : QList<int>());
    }
#endif
};

QTEST_APPLESS_MAIN(TestMidiPure)
#include "tst_midipure.moc"
