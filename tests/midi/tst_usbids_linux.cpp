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

enum class Ids { Found, NotFound };
// The sequencer client that the lookup must ask for its card; none when the name has none.
constexpr int noClient = -1;

struct UsbIdCase
{
    const char *name;
    const char *port;
    int client;
    const char *procUsbid; // null: the file is absent
    const char *sysVendor; // both null: no sys tree
    const char *sysProduct;
    Ids ids;
};
Q_DECLARE_METATYPE(UsbIdCase)

class TestUsbIdsLinux : public QObject
{
    Q_OBJECT
private slots:
    void linuxLookup_data()
    {
        QTest::addColumn<UsbIdCase>("c");
        const char *tovik = "Tovik:Tovik MIDI 1 20:0";
        const char *usbid = "1d6b:0104\n";
        const UsbIdCase cases[] = {
            {"proc usbid", tovik, 20, usbid, nullptr, nullptr, Ids::Found},
            {"malformed proc, sys decides", tovik, 20, "1d6b-0104\n", "1d6b\n", "0104\n",
             Ids::Found},
            {"malformed proc only", tovik, 20, "1d6b:01045\n", nullptr, nullptr, Ids::NotFound},
            {"sys missing idProduct", tovik, 20, nullptr, "1d6b\n", nullptr, Ids::NotFound},
            {"user client without card", "Midi Through:Midi Through Port-0 14:0", 14, usbid,
             nullptr, nullptr, Ids::NotFound},
            {"client not a number", "Tovik:Tovik MIDI 1 x:0", noClient, usbid, nullptr, nullptr,
             Ids::NotFound},
        };
        for (const UsbIdCase &c : cases)
            QTest::newRow(c.name) << c;
    }

    void linuxLookup()
    {
        QFETCH(UsbIdCase, c);
        const bool found = c.ids == Ids::Found;

        QTemporaryDir dir;
        LinuxSoundRoots roots;
        roots.proc = dir.filePath(QStringLiteral("proc"));
        roots.sys = dir.filePath(QStringLiteral("sys"));
        QVERIFY(writeFile(roots.proc + "/asound/card1/usbid", QByteArray(c.procUsbid)));
        if (c.sysVendor) {
            // The card's device is an interface; the ids sit on the USB device above it.
            const QString usbDevice = roots.sys + "/devices/pci0000:00/usb1/1-2";
            QVERIFY(QDir().mkpath(usbDevice + "/1-2:1.1"));
            QVERIFY(QDir().mkpath(roots.sys + "/class/sound/card1"));
            QVERIFY(QFile::link(usbDevice + "/1-2:1.1", roots.sys + "/class/sound/card1/device"));
            QVERIFY(writeFile(usbDevice + "/idVendor", QByteArray(c.sysVendor)));
            QVERIFY(writeFile(usbDevice + "/idProduct", QByteArray(c.sysProduct)));
        }

        // The sequencer: client 20 is the instrument on card 1, others have no card.
        QList<int> asked;
        const AlsaCardOfClient cardOf = [&](int seqClient) {
            asked.append(seqClient);
            return seqClient == 20 ? 1 : -1;
        };
        QString vendorId;
        QString productId;
        QCOMPARE(
            findUsbIdsForAlsaPort(QString::fromLatin1(c.port), vendorId, productId, roots, cardOf),
            found);
        QCOMPARE(vendorId + ':' + productId, QString(found ? "1D6B:0104" : ":"));
        QCOMPARE(asked, c.client == noClient ? QList<int>() : QList<int>{c.client});
    }
};

QTEST_APPLESS_MAIN(TestUsbIdsLinux)
#include "tst_usbids_linux.moc"
