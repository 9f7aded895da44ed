#include "midi/UsbIds.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using DeviceList = std::vector<MediaDeviceEntry>;
Q_DECLARE_METATYPE(DeviceList)

namespace {
MediaDeviceEntry device(const char *name, const char *hardwareId)
{
    MediaDeviceEntry entry;
    if (name)
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

// Vendor and product id as one "vendor:product" text.
void addIdColumns()
{
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("ids");
}
} // namespace

class TestUsbIds : public QObject
{
    Q_OBJECT
private slots:
    void normalize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("normalized");
        const auto row = [](const char *tag, const char *name, const char *normalized) {
            QTest::newRow(tag) << QString(name) << QString(normalized);
        };
        row("plain", "Tovik", "tovik");
        row("windows port number", "Tovik 1", "tovik");
        row("two-digit number", "Tovik MIDI 12", "tovik midi");
        row("letter case", "TOVIK Midi", "tovik midi");
        row("runs of blanks", "  Tovik \t  MIDI   3  ", "tovik midi");
        row("digits glued to the name stay", "Tovik2", "tovik2");
        row("only the last number goes", "Tovik 2 3", "tovik 2");
        row("number alone stays", "12", "12");
        row("empty", "", "");
    }

    void normalize()
    {
        QFETCH(QString, name);
        QFETCH(QString, normalized);
        QCOMPARE(normalizePortName(name), normalized);
    }

    void hardwareId_data()
    {
        QTest::addColumn<QString>("hardwareId");
        addIdColumns();
        // A missing piece leaves the previous text ("old") in place.
        const auto row = [](const char *tag, const char *id, bool parsed, const char *ids) {
            QTest::newRow(tag) << QString(id) << parsed << QString(ids);
        };
        row("interface", "USB\\VID_1D6B&PID_0104&MI_01", true, "1D6B:0104");
        row("device", "USB\\VID_1D6B&PID_0104", true, "1D6B:0104");
        row("order swapped", "USB\\PID_0104&VID_1D6B", true, "1D6B:0104");
        row("revision after", "USB\\VID_1D6B&PID_0104&REV_0100\\x", true, "1D6B:0104");
        row("no vid", "USB\\PID_0104&MI_01", true, "old:0104");
        row("no pieces", "USB\\ROOT_HUB30", true, "old:old");
        row("lower-case prefix ignored", "USB\\vid_1d6b&pid_0104", true, "old:old");
        row("lower-case digits kept", "USB\\VID_1d6b&PID_0104", true, "1d6b:0104");
        row("no backslash", "VID_1D6B&PID_0104", false, "old:old");
        row("empty second part", "USB\\", true, "old:old");
        row("empty", "", false, "old:old");
    }

    void hardwareId()
    {
        QFETCH(QString, hardwareId);
        QFETCH(bool, found);
        QFETCH(QString, ids);
        QString vendorId = QStringLiteral("old");
        QString productId = QStringLiteral("old");
        QCOMPARE(parseHardwareId(hardwareId, vendorId, productId), found);
        QCOMPARE(vendorId + ':' + productId, ids);
    }

    void matchDevices_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<DeviceList>("devices");
        addIdColumns();
        QTest::addColumn<bool>("instrument");
        const auto row = [](const char *tag, const char *port, const DeviceList &devices,
                            bool found, const char *ids, bool instrument) {
            QTest::newRow(tag) << QString(port) << devices << found << QString(ids) << instrument;
        };
        const MediaDeviceEntry tovik = device("Tovik", "USB\\VID_1D6B&PID_0104&MI_01");
        const MediaDeviceEntry other = device("Keystep", "USB\\VID_1C75&PID_0288&MI_00");
        row("windows port name", "Tovik 1", {other, tovik}, true, "1D6B:0104", true);
        row("case and blanks", "  tOVIK   0 ", {tovik}, true, "1D6B:0104", true);
        row("no such device", "Launchpad 2", {other, tovik}, false, ":", false);
        row("no devices", "Tovik 1", {}, false, ":", false);
        row("first of two wins, other product", "Tovik 1",
            {device("Tovik", "USB\\VID_1D6B&PID_0999"), tovik}, true, "1D6B:0999", false);
        row("first without ids still decides", "Tovik 1",
            {device("Tovik", "SWD\\MMDEVAPI&X"), tovik}, true, ":", false);
        row("lower-case ids", "Tovik 1", {device("Tovik", "USB\\VID_1d6b&PID_0104")}, true,
            "1d6b:0104", false);
        row("hardware id without backslash is skipped", "Tovik 1",
            {device("Tovik", "garbage"), tovik}, true, "1D6B:0104", true);
        row("unreadable properties skipped", "Tovik 1",
            {device(nullptr, "USB\\VID_1D6B&PID_0104"), device("Tovik", nullptr), tovik}, true,
            "1D6B:0104", true);
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
        QTest::addColumn<QByteArray>("procUsbid");
        QTest::addColumn<QByteArray>("sysVendor");
        QTest::addColumn<QByteArray>("sysProduct");
        QTest::addColumn<bool>("found");
        // Null file contents: the file is absent; no sys file at all: no sys tree.
        const auto row = [](const char *tag, const char *port, int client, const char *usbid,
                            const char *vendor, const char *product, bool found) {
            QTest::newRow(tag) << QString(port) << client << QByteArray(usbid) << QByteArray(vendor)
                               << QByteArray(product) << found;
        };
        const char *tovik = "Tovik:Tovik MIDI 1 20:0";
        const char *usbid = "1d6b:0104\n";
        row("proc usbid", tovik, 20, usbid, nullptr, nullptr, true);
        row("proc usbid upper-case already", tovik, 20, "1D6B:0104", nullptr, nullptr, true);
        row("sys fallback", tovik, 20, nullptr, "1d6b\n", "0104\n", true);
        row("malformed proc, sys decides", tovik, 20, "1d6b-0104\n", "1d6b\n", "0104\n", true);
        row("malformed proc only", tovik, 20, "1d6b:01045\n", nullptr, nullptr, false);
        row("sys missing idProduct", tovik, 20, nullptr, "1d6b\n", nullptr, false);
        row("sys ids not hex", tovik, 20, nullptr, "xyzw\n", "0104\n", false);
        row("no files", tovik, 20, nullptr, nullptr, nullptr, false);
        row("user client without card", "Midi Through:Midi Through Port-0 14:0", 14, usbid, nullptr,
            nullptr, false);
        row("unknown client, port 3", "Synth:Synth Port 3 128:3", 128, usbid, nullptr, nullptr,
            false);
        row("windows name", "Tovik 1", -1, usbid, nullptr, nullptr, false);
        row("no blank before address", "Tovik:Tovik20:0", -1, usbid, nullptr, nullptr, false);
        row("client not a number", "Tovik:Tovik MIDI 1 x:0", -1, usbid, nullptr, nullptr, false);
        row("empty", "", -1, usbid, nullptr, nullptr, false);
    }

    void linuxLookup()
    {
        QFETCH(QString, port);
        QFETCH(int, client);
        QFETCH(QByteArray, procUsbid);
        QFETCH(QByteArray, sysVendor);
        QFETCH(QByteArray, sysProduct);
        QFETCH(bool, found);
        QCOMPARE(alsaClientFromPortName(port), client);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        LinuxSoundRoots roots;
        roots.proc = dir.filePath(QStringLiteral("proc"));
        roots.sys = dir.filePath(QStringLiteral("sys"));
        QVERIFY(writeFile(roots.proc + QStringLiteral("/asound/card1/usbid"), procUsbid));
        if (!sysVendor.isNull() || !sysProduct.isNull()) {
            // The card's device is an interface; the ids sit on the USB device above it.
            const QString usbDevice = roots.sys + QStringLiteral("/devices/pci0000:00/usb1/1-2");
            QVERIFY(QDir().mkpath(usbDevice + QStringLiteral("/1-2:1.1")));
            QVERIFY(QDir().mkpath(roots.sys + QStringLiteral("/class/sound/card1")));
            QVERIFY(QFile::link(usbDevice + QStringLiteral("/1-2:1.1"),
                                roots.sys + QStringLiteral("/class/sound/card1/device")));
            QVERIFY(writeFile(usbDevice + QStringLiteral("/idVendor"), sysVendor));
            QVERIFY(writeFile(usbDevice + QStringLiteral("/idProduct"), sysProduct));
        }

        // The sequencer: client 20 is the instrument on card 1, 14 a kernel client without a card.
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

QTEST_APPLESS_MAIN(TestUsbIds)
#include "tst_usbids.moc"
