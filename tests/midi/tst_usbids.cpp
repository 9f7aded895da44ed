#include "midi/UsbIds.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using DeviceList = std::vector<MediaDeviceEntry>;
Q_DECLARE_METATYPE(DeviceList)

namespace {
MediaDeviceEntry device(const QString &name, const QString &hardwareId)
{
    MediaDeviceEntry entry;
    entry.friendlyName = name;
    entry.hardwareId = hardwareId;
    return entry;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}
} // namespace

class TestUsbIds : public QObject
{
    Q_OBJECT
private slots:
    void normalize_data();
    void normalize();
    void hardwareId_data();
    void hardwareId();
    void matchDevices_data();
    void matchDevices();
    void instrumentIds_data();
    void instrumentIds();
#if defined(__linux__)
    void alsaClient_data();
    void alsaClient();
    void linuxLookup_data();
    void linuxLookup();
#endif
};

void TestUsbIds::normalize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("normalized");
    QTest::newRow("plain") << "Tovik"
                           << "tovik";
    QTest::newRow("windows port number") << "Tovik 1"
                                         << "tovik";
    QTest::newRow("two-digit number") << "Tovik MIDI 12"
                                      << "tovik midi";
    QTest::newRow("letter case") << "TOVIK Midi"
                                 << "tovik midi";
    QTest::newRow("runs of blanks") << "  Tovik \t  MIDI   3  "
                                    << "tovik midi";
    QTest::newRow("digits glued to the name stay") << "Tovik2"
                                                   << "tovik2";
    QTest::newRow("only the last number goes") << "Tovik 2 3"
                                               << "tovik 2";
    QTest::newRow("number alone stays") << "12"
                                        << "12";
    QTest::newRow("empty") << ""
                           << "";
}

void TestUsbIds::normalize()
{
    QFETCH(QString, name);
    QFETCH(QString, normalized);
    QCOMPARE(normalizePortName(name), normalized);
}

void TestUsbIds::hardwareId_data()
{
    QTest::addColumn<QString>("hardwareId");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");
    QTest::newRow("interface") << "USB\\VID_1D6B&PID_0104&MI_01" << true << "1D6B"
                               << "0104";
    QTest::newRow("device") << "USB\\VID_1D6B&PID_0104" << true << "1D6B"
                            << "0104";
    QTest::newRow("order swapped") << "USB\\PID_0104&VID_1D6B" << true << "1D6B"
                                   << "0104";
    QTest::newRow("revision after") << "USB\\VID_1D6B&PID_0104&REV_0100\\x" << true << "1D6B"
                                    << "0104";
    QTest::newRow("no vid") << "USB\\PID_0104&MI_01" << true << "old"
                            << "0104";
    QTest::newRow("no pieces") << "USB\\ROOT_HUB30" << true << "old"
                               << "old";
    QTest::newRow("lower-case prefix ignored") << "USB\\vid_1d6b&pid_0104" << true << "old"
                                               << "old";
    QTest::newRow("lower-case digits kept") << "USB\\VID_1d6b&PID_0104" << true << "1d6b"
                                            << "0104";
    QTest::newRow("no backslash") << "VID_1D6B&PID_0104" << false << "old"
                                  << "old";
    QTest::newRow("empty second part") << "USB\\" << true << "old"
                                       << "old";
    QTest::newRow("empty") << "" << false << "old"
                           << "old";
}

void TestUsbIds::hardwareId()
{
    QFETCH(QString, hardwareId);
    QFETCH(bool, parsed);
    QFETCH(QString, vendor);
    QFETCH(QString, product);
    QString vendorId = QStringLiteral("old");
    QString productId = QStringLiteral("old");
    QCOMPARE(parseHardwareId(hardwareId, vendorId, productId), parsed);
    QCOMPARE(vendorId, vendor);
    QCOMPARE(productId, product);
}

void TestUsbIds::matchDevices_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<DeviceList>("devices");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");

    const MediaDeviceEntry tovik = device("Tovik", "USB\\VID_1D6B&PID_0104&MI_01");
    const MediaDeviceEntry other = device("Keystep", "USB\\VID_1C75&PID_0288&MI_00");
    QTest::newRow("windows port name") << "Tovik 1" << DeviceList{other, tovik} << true << "1D6B"
                                       << "0104";
    QTest::newRow("case and blanks") << "  tOVIK   0 " << DeviceList{tovik} << true << "1D6B"
                                     << "0104";
    QTest::newRow("no such device") << "Launchpad 2" << DeviceList{other, tovik} << false << ""
                                    << "";
    QTest::newRow("no devices") << "Tovik 1" << DeviceList{} << false << ""
                                << "";
    QTest::newRow("first of two wins")
        << "Tovik 1" << DeviceList{device("Tovik", "USB\\VID_1D6B&PID_0999"), tovik} << true
        << "1D6B"
        << "0999";
    QTest::newRow("first without ids still decides")
        << "Tovik 1" << DeviceList{device("Tovik", "SWD\\MMDEVAPI&X"), tovik} << true << ""
        << "";
    QTest::newRow("hardware id without backslash is skipped")
        << "Tovik 1" << DeviceList{device("Tovik", "garbage"), tovik} << true << "1D6B"
        << "0104";
    MediaDeviceEntry unreadableName;
    unreadableName.hardwareId = QStringLiteral("USB\\VID_1D6B&PID_0104");
    MediaDeviceEntry unreadableId;
    unreadableId.friendlyName = QStringLiteral("Tovik");
    QTest::newRow("unreadable properties skipped")
        << "Tovik 1" << DeviceList{unreadableName, unreadableId, tovik} << true << "1D6B"
        << "0104";
}

void TestUsbIds::matchDevices()
{
    QFETCH(QString, port);
    QFETCH(DeviceList, devices);
    QFETCH(bool, found);
    QFETCH(QString, vendor);
    QFETCH(QString, product);
    QString vendorId;
    QString productId;
    QCOMPARE(matchUsbIdsInDevices(port, devices, vendorId, productId), found);
    QCOMPARE(vendorId, vendor);
    QCOMPARE(productId, product);
}

void TestUsbIds::instrumentIds_data()
{
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");
    QTest::addColumn<bool>("matches");
    QTest::newRow("instrument") << true << "1D6B"
                                << "0104" << true;
    QTest::newRow("lookup failed") << false << "1D6B"
                                   << "0104" << false;
    QTest::newRow("lower case") << true << "1d6b"
                                << "0104" << false;
    QTest::newRow("other product") << true << "1D6B"
                                   << "0105" << false;
    QTest::newRow("missing ids") << true << ""
                                 << "" << false;
}

void TestUsbIds::instrumentIds()
{
    QFETCH(bool, found);
    QFETCH(QString, vendor);
    QFETCH(QString, product);
    QFETCH(bool, matches);
    QCOMPARE(matchesInstrumentIds(found, vendor, product), matches);
}

#if defined(__linux__)
void TestUsbIds::alsaClient_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("client");
    QTest::newRow("instrument") << "Tovik:Tovik MIDI 1 20:0" << 20;
    QTest::newRow("through") << "Midi Through:Midi Through Port-0 14:0" << 14;
    QTest::newRow("port 3") << "Synth:Synth Port 3 128:3" << 128;
    QTest::newRow("windows name") << "Tovik 1" << -1;
    QTest::newRow("no blank before address") << "Tovik:Tovik20:0" << -1;
    QTest::newRow("client not a number") << "Tovik:Tovik MIDI 1 x:0" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestUsbIds::alsaClient()
{
    QFETCH(QString, port);
    QFETCH(int, client);
    QCOMPARE(alsaClientFromPortName(port), client);
}

void TestUsbIds::linuxLookup_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");
    const QString tovik = QStringLiteral("Tovik:Tovik MIDI 1 20:0");
    QTest::newRow("proc usbid") << "proc" << tovik << true << "1D6B"
                                << "0104";
    QTest::newRow("proc usbid upper-case already") << "procUpper" << tovik << true << "1D6B"
                                                   << "0104";
    QTest::newRow("sys fallback") << "sys" << tovik << true << "1D6B"
                                  << "0104";
    QTest::newRow("malformed proc, sys decides") << "badProcGoodSys" << tovik << true << "1D6B"
                                                 << "0104";
    QTest::newRow("malformed proc only") << "badProc" << tovik << false << ""
                                         << "";
    QTest::newRow("sys missing idProduct") << "sysNoProduct" << tovik << false << ""
                                           << "";
    QTest::newRow("sys ids not hex") << "sysNotHex" << tovik << false << ""
                                     << "";
    QTest::newRow("no files") << "empty" << tovik << false << ""
                              << "";
    QTest::newRow("user client without card")
        << "proc"
        << "Midi Through:Midi Through Port-0 14:0" << false << ""
        << "";
    QTest::newRow("unknown client") << "proc"
                                    << "Ghost:Ghost 99:0" << false << ""
                                    << "";
    QTest::newRow("name without address") << "proc"
                                          << "Tovik 1" << false << ""
                                          << "";
}

void TestUsbIds::linuxLookup()
{
    QFETCH(QString, layout);
    QFETCH(QString, port);
    QFETCH(bool, found);
    QFETCH(QString, vendor);
    QFETCH(QString, product);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    LinuxSoundRoots roots;
    roots.proc = dir.filePath(QStringLiteral("proc"));
    roots.sys = dir.filePath(QStringLiteral("sys"));
    const QString usbid = roots.proc + QStringLiteral("/asound/card1/usbid");
    const QString usbDevice = roots.sys + QStringLiteral("/devices/pci0000:00/usb1/1-2");
    const auto makeSys = [&](const QByteArray &vendorText, const QByteArray &productText) {
        QVERIFY(QDir().mkpath(usbDevice + QStringLiteral("/1-2:1.1")));
        QVERIFY(QDir().mkpath(roots.sys + QStringLiteral("/class/sound/card1")));
        QVERIFY(QFile::link(usbDevice + QStringLiteral("/1-2:1.1"),
                            roots.sys + QStringLiteral("/class/sound/card1/device")));
        if (!vendorText.isNull())
            QVERIFY(writeFile(usbDevice + QStringLiteral("/idVendor"), vendorText));
        if (!productText.isNull())
            QVERIFY(writeFile(usbDevice + QStringLiteral("/idProduct"), productText));
    };
    if (layout == QLatin1String("proc"))
        QVERIFY(writeFile(usbid, "1d6b:0104\n"));
    else if (layout == QLatin1String("procUpper"))
        QVERIFY(writeFile(usbid, "1D6B:0104"));
    else if (layout == QLatin1String("sys"))
        makeSys("1d6b\n", "0104\n");
    else if (layout == QLatin1String("badProcGoodSys")) {
        QVERIFY(writeFile(usbid, "1d6b-0104\n"));
        makeSys("1d6b\n", "0104\n");
    } else if (layout == QLatin1String("badProc"))
        QVERIFY(writeFile(usbid, "1d6b:01045\n"));
    else if (layout == QLatin1String("sysNoProduct"))
        makeSys("1d6b\n", QByteArray());
    else if (layout == QLatin1String("sysNotHex"))
        makeSys("xyzw\n", "0104\n");

    // The sequencer: client 20 is the instrument on card 1, 14 a kernel client without a card.
    const std::map<int, int> cards = {{20, 1}, {14, -1}};
    int asked = 0;
    const AlsaCardOfClient cardOf = [&](int client) {
        ++asked;
        const auto it = cards.find(client);
        return it == cards.end() ? -1 : it->second;
    };
    QString vendorId;
    QString productId;
    QCOMPARE(findUsbIdsForAlsaPort(port, vendorId, productId, roots, cardOf), found);
    QCOMPARE(vendorId, vendor);
    QCOMPARE(productId, product);
    QCOMPARE(asked, alsaClientFromPortName(port) >= 0 ? 1 : 0);
}
#endif

QTEST_APPLESS_MAIN(TestUsbIds)
#include "tst_usbids.moc"
