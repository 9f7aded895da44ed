// The Linux USB lookup: from an ALSA sequencer port name to the ids of its sound card.
#include "midi/UsbIds_linux_p.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Writes content unless it is null (the file is then absent).
bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return content.isNull() ||
           (file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}
} // namespace

class TestUsbIdsLinux : public QObject
{
    Q_OBJECT
private slots:
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
};

QTEST_APPLESS_MAIN(TestUsbIdsLinux)
#include "tst_usbids_linux.moc"
