#include "storage/SystemDismounter.h"

#include "storage/UDisks2MountPoints.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDebug>
#include <QFile>
#include <QStorageInfo>
#include <QVariantMap>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace {
const QString udisksService = QStringLiteral("org.freedesktop.UDisks2");
const QString udisksRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString filesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
// Bounded so a stuck service can never hold the worker forever; an unmount flushes the
// volume's cache, which on a slow instrument takes a while.
constexpr int listTimeoutMs = 10000;
constexpr int unmountTimeoutMs = 60000;

bool stillMounted(const QString &rootPath)
{
    const QList<QStorageInfo> infos = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &info : infos) {
        if (sameMountPoint(info.rootPath(), rootPath))
            return true;
    }
    return false;
}

bool verifyGone(const QString &rootPath)
{
    if (!stillMounted(rootPath))
        return true;
    qWarning() << "FM: Volume still mounted after unmount:" << rootPath;
    return false;
}

bool isNoServiceError(const QString &errorName)
{
    return errorName == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.NoServer") ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.FileNotFound") ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.Spawn.ServiceNotFound");
}

// The object path of the file system mounted at rootPath in a GetManagedObjects answer
// (a{oa{sa{sv}}}), or an empty string.
QString findFilesystemObject(const QDBusArgument &objects, const QString &rootPath)
{
    QString found;
    objects.beginMap();
    while (!objects.atEnd()) {
        QDBusObjectPath path;
        objects.beginMapEntry();
        objects >> path;
        objects.beginMap();
        while (!objects.atEnd()) {
            QString interfaceName;
            QVariantMap properties;
            objects.beginMapEntry();
            objects >> interfaceName >> properties;
            objects.endMapEntry();
            if (!found.isEmpty() || interfaceName != filesystemInterface)
                continue;
            const QVariant mountPoints = properties.value(QStringLiteral("MountPoints"));
            if (!mountPoints.canConvert<QDBusArgument>())
                continue;
            const QList<QByteArray> raw = qdbus_cast<QList<QByteArray>>(mountPoints);
            const QStringList points = decodeMountPoints(raw);
            for (const QString &point : points) {
                if (sameMountPoint(point, rootPath))
                    found = path.path();
            }
        }
        objects.endMap();
        objects.endMapEntry();
    }
    objects.endMap();
    return found;
}

// Without a disk service the kernel is asked directly, which only root may do. Why the service
// could not help is logged as a warning when that ends the attempt, as a note otherwise.
bool unmountAsRoot(const QString &rootPath, const QString &why)
{
    if (::geteuid() != 0) {
        qWarning().noquote() << "FM: Cannot unmount" << rootPath << "without UDisks2:" << why;
        return false;
    }
    qInfo().noquote() << "FM: Unmounting" << rootPath << "directly:" << why;
    // No MNT_DETACH: a lazy unmount would report success while files are still open.
    if (::umount2(QFile::encodeName(rootPath).constData(), 0) != 0) {
        const int error = errno;
        qWarning() << "FM: umount2 of" << rootPath << "failed:" << std::strerror(error);
        return false;
    }
    return verifyGone(rootPath);
}

QString describe(const QString &name, const QString &message)
{
    return name + QLatin1Char(' ') + message;
}

QDBusConnection connectBus(const QString &busAddress)
{
    if (busAddress.isEmpty())
        return QDBusConnection::systemBus();
    return QDBusConnection::connectToBus(busAddress, QStringLiteral("tovik-udisks-") + busAddress);
}
} // namespace

// Blocks the worker for at most the D-Bus timeouts above.
bool SystemDismounter::dismount(const QString &rootPath)
{
    const QDBusConnection bus = connectBus(busAddress);
    if (!bus.isConnected()) {
        const QDBusError error = bus.lastError();
        return unmountAsRoot(rootPath, QStringLiteral("no D-Bus: ") +
                                           describe(error.name(), error.message()));
    }

    QDBusMessage list = QDBusMessage::createMethodCall(
        udisksService, udisksRoot, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
        QStringLiteral("GetManagedObjects"));
    const QDBusMessage objects = bus.call(list, QDBus::Block, listTimeoutMs);
    if (objects.type() != QDBusMessage::ReplyMessage) {
        const QString error = describe(objects.errorName(), objects.errorMessage());
        if (isNoServiceError(objects.errorName()))
            return unmountAsRoot(rootPath, QStringLiteral("no UDisks2 service: ") + error);
        qWarning().noquote() << "FM: UDisks2 cannot list file systems:" << error;
        return false;
    }
    if (objects.arguments().isEmpty() ||
        !objects.arguments().constFirst().canConvert<QDBusArgument>() ||
        objects.signature() != QLatin1String("a{oa{sa{sv}}}")) {
        qWarning() << "FM: UDisks2 answered GetManagedObjects with" << objects.signature();
        return false;
    }

    const QString objectPath =
        findFilesystemObject(objects.arguments().constFirst().value<QDBusArgument>(), rootPath);
    if (objectPath.isEmpty()) {
        // Mounted by someone UDisks2 does not follow (or in another namespace).
        return unmountAsRoot(rootPath,
                             QStringLiteral("UDisks2 knows no file system mounted there"));
    }

    QDBusMessage unmount = QDBusMessage::createMethodCall(
        udisksService, objectPath, filesystemInterface, QStringLiteral("Unmount"));
    // Never pop up a password dialog from the worker: a refusal is reported instead.
    const QVariantMap options{{QStringLiteral("auth.no_user_interaction"), true}};
    unmount << options;
    const QDBusMessage reply = bus.call(unmount, QDBus::Block, unmountTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning() << "FM: UDisks2 Unmount of" << rootPath << "failed:" << reply.errorName()
                   << reply.errorMessage();
        return false;
    }
    return verifyGone(rootPath);
}
