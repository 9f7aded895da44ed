#include "midi/UsbIds_linux_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <alsa/asoundlib.h>

namespace {

// Kernel files are tiny; a bound keeps a corrupt fixture or device file from being read whole.
constexpr qint64 maxIdFileBytes = 64;

bool readSmallFile(const QString &path, QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    content = file.read(maxIdFileBytes).trimmed();
    return true;
}

bool isHexId(const QByteArray &text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{4}$"));
    return hex.match(QString::fromLatin1(text)).hasMatch();
}

bool readProcUsbId(int card, const LinuxSoundRoots &roots, QString &vendorId, QString &productId)
{
    QByteArray content;
    if (!readSmallFile(QStringLiteral("%1/asound/card%2/usbid").arg(roots.proc).arg(card), content))
        return false;
    const QList<QByteArray> parts = content.split(':');
    if (parts.size() != 2 || !isHexId(parts.at(0)) || !isHexId(parts.at(1)))
        return false;
    vendorId = QString::fromLatin1(parts.at(0)).toUpper();
    productId = QString::fromLatin1(parts.at(1)).toUpper();
    return true;
}

bool readSysUsbId(int card, const LinuxSoundRoots &roots, QString &vendorId, QString &productId)
{
    // The card's device is the USB interface; the ids belong to the device one level up.
    const QString device =
        QFileInfo(QStringLiteral("%1/class/sound/card%2/device").arg(roots.sys).arg(card))
            .canonicalFilePath();
    if (device.isEmpty())
        return false;
    QDir usbDevice(device);
    if (!usbDevice.cdUp())
        return false;
    QByteArray vendor;
    QByteArray product;
    if (!readSmallFile(usbDevice.filePath(QStringLiteral("idVendor")), vendor) ||
        !readSmallFile(usbDevice.filePath(QStringLiteral("idProduct")), product))
        return false;
    if (!isHexId(vendor) || !isHexId(product))
        return false;
    vendorId = QString::fromLatin1(vendor).toUpper();
    productId = QString::fromLatin1(product).toUpper();
    return true;
}

} // namespace

int alsaClientFromPortName(const QString &portName)
{
    static const QRegularExpression address(QStringLiteral("\\s(\\d{1,3}):(\\d{1,5})$"));
    const QRegularExpressionMatch match = address.match(portName.trimmed());
    if (!match.hasMatch())
        return -1;
    return match.captured(1).toInt();
}

bool readCardUsbIds(int card, const LinuxSoundRoots &roots, QString &vendorId, QString &productId)
{
    if (card < 0)
        return false;
    return readProcUsbId(card, roots, vendorId, productId) ||
           readSysUsbId(card, roots, vendorId, productId);
}

bool findUsbIdsForAlsaPort(const QString &portName, QString &vendorId, QString &productId,
                           const LinuxSoundRoots &roots, const AlsaCardOfClient &cardOfClient)
{
    const int client = alsaClientFromPortName(portName);
    if (client < 0 || !cardOfClient)
        return false;
    return readCardUsbIds(cardOfClient(client), roots, vendorId, productId);
}

int alsaCardOfClient(int client)
{
    snd_seq_t *sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0)
        return -1;
    snd_seq_client_info_t *info = nullptr;
    int card = -1;
    if (snd_seq_client_info_malloc(&info) == 0) {
        if (snd_seq_get_any_client_info(sequencer, client, info) == 0)
            card = snd_seq_client_info_get_card(info);
        snd_seq_client_info_free(info);
    }
    snd_seq_close(sequencer);
    return card;
}

bool findUsbIdsForPort(const QString &portName, QString &vendorId, QString &productId)
{
    return findUsbIdsForAlsaPort(portName, vendorId, productId, LinuxSoundRoots(),
                                 &alsaCardOfClient);
}
