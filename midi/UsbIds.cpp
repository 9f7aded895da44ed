#include "midi/UsbIds.h"

#include <QRegularExpression>
#include <QStringList>

QString normalizePortName(const QString &name)
{
    static const QRegularExpression trailingNumber(QStringLiteral("\\s+\\d+$"));
    QString key = name.simplified();
    key.replace(trailingNumber, QString());
    return key.toLower();
}

bool parseHardwareId(const QString &hardwareId, QString &vendorId, QString &productId)
{
    const QStringList parts = hardwareId.split(QLatin1Char('\\'), Qt::KeepEmptyParts);
    if (parts.size() < 2)
        return false;
    const QStringList pieces = parts.at(1).split(QLatin1Char('&'), Qt::KeepEmptyParts);
    for (const QString &piece : pieces) {
        if (piece.startsWith(QLatin1String("VID_")))
            vendorId = piece.mid(4);
        else if (piece.startsWith(QLatin1String("PID_")))
            productId = piece.mid(4);
    }
    return true;
}

bool matchUsbIdsInDevices(const QString &portName, const std::vector<MediaDeviceEntry> &devices,
                          QString &vendorId, QString &productId)
{
    const QString key = normalizePortName(portName);
    for (const MediaDeviceEntry &device : devices) {
        if (!device.friendlyName || normalizePortName(*device.friendlyName) != key)
            continue;
        if (!device.hardwareId)
            continue;
        if (parseHardwareId(*device.hardwareId, vendorId, productId))
            return true;
    }
    return false;
}

bool matchesInstrumentIds(bool found, const QString &vendorId, const QString &productId)
{
    return found && vendorId == QLatin1String("1D6B") && productId == QLatin1String("0104");
}
