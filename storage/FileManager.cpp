#include "storage/FileManager.h"

#include "diagnostics/Logging.h"
#include "storage/DeviceFlush.h"
#include "storage/StorageVolumeList.h"
#include "storage/SystemDismounter.h"
#include "storage/UpdateCopy.h"
#include "storage/VolumeDismounter.h"
#include "storage/VolumeList.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

namespace {
const QString updateVolumeName = QStringLiteral("tovikupd");
const QString updateTargetName = QStringLiteral("tvxxfer.tvq");
constexpr int volumeWaitMs = 3000;
constexpr qint32 maxVolumeWaits = 5;
constexpr qint64 copyChunkSize = 4096;
constexpr int updateVolumeWatchMs = 1000;
} // namespace

FileManager::FileManager(QObject *parent)
    : QObject(parent)
    , ownedVolumes(std::make_unique<StorageVolumeList>())
    , ownedDismounter(std::make_unique<SystemDismounter>())
    , volumes(ownedVolumes.get())
    , dismounter(ownedDismounter.get())
{
}

FileManager::FileManager(VolumeList *volumeList, VolumeDismounter *volumeDismounter,
                         QObject *parent)
    : QObject(parent)
    , volumes(volumeList)
    , dismounter(volumeDismounter)
{
}

FileManager::~FileManager() = default;

void FileManager::onDownloadFinished(bool success, const QString &path, const QString &name)
{
    if (!success)
        return;
    updateFilePath = path;
    updateFileName = name;
}

void FileManager::onDeviceSetToTransferMode()
{
    // The first try is traced by its copy; the user's next tries say so.
    updateStarted = true;
    ++updateTries;
    transferUpdateFile();
}

void FileManager::retryUpdateTransfer()
{
    ++updateTries;
    logTrace(QStringLiteral("FM: update try %1, at the user's request").arg(updateTries));
    const QString root = findVolumeRootPath(updateVolumeName);
    // A rename never replaces a file: the update already renamed there needs only the dismount.
    if (!updateFileInPlace || root.isEmpty() ||
        !QFileInfo::exists(QDir(root).filePath(updateTargetName))) {
        transferUpdateFile();
        return;
    }
    logTrace(QStringLiteral("FM: update file already in place, dismounting"));
    dismountUpdateVolume();
}

void FileManager::dismountUpdateVolume()
{
    if (!ejectVolume(updateVolumeName)) {
        qWarning() << "FM: Failed to eject device" << updateVolumeName;
        failUpdateTransfer();
        return;
    }
    logTrace(QStringLiteral("FM: dismounted OK"));
    emit fileTransferComplete(true);
}

void FileManager::watchUpdateVolume()
{
    if (!updateVolumeWatch) {
        updateVolumeWatch = new QTimer(this);
        connect(updateVolumeWatch, &QTimer::timeout, this, &FileManager::checkUpdateVolume);
    }
    updateVolumeWatch->start(updateVolumeWatchMs);
    checkUpdateVolume();
}

void FileManager::checkUpdateVolume()
{
    const bool mounted = isVolumeMounted(updateVolumeName);
    if (mounted == updateVolumeSeen)
        return;
    updateVolumeSeen = mounted;
    if (mounted && !updateStarted)
        qWarning("FM: Tovik is in update mode without an update in progress");
    emit updateVolumeMounted(mounted);
}

void FileManager::failUpdateTransfer()
{
    if (updateVolumeWatch)
        checkUpdateVolume();
    emit fileTransferComplete(false);
}

bool FileManager::isVolumeMounted(const QString &displayName) const
{
    return !findVolumeRootPath(displayName).isEmpty();
}

QString FileManager::findVolumeRootPath(const QString &displayName, bool writableOnly) const
{
    const QList<VolumeEntry> mounted = volumes->mountedVolumes();
    for (const VolumeEntry &volume : mounted) {
        if (!volume.valid || !volume.ready || (writableOnly && volume.readOnly))
            continue;
        if (volume.displayName == displayName)
            return volume.rootPath;
    }
    return {};
}

void FileManager::transferUpdateFile()
{
    if (!isVolumeMounted(updateVolumeName)) {
        if (volumeRetryCount < maxVolumeWaits) {
            // The instrument needs a few seconds to re-enumerate and be mounted; the counter is
            // left as it is on give-up, so a later start looks only once.
            QTimer::singleShot(volumeWaitMs, Qt::CoarseTimer, this,
                               &FileManager::transferUpdateFile);
            ++volumeRetryCount;
            return;
        }
        failUpdateTransfer();
        return;
    }
    volumeRetryCount = 0;
    updateFileInPlace = false;

    logTrace(QStringLiteral("FM: copying %1 -> %2").arg(updateFileName, updateVolumeName));
    if (!copyFileToVolume(updateVolumeName, updateFilePath)) {
        qWarning() << "FM: Failed to copy update file to" << updateVolumeName;
        failUpdateTransfer();
        return;
    }
    logTrace(QStringLiteral("FM: copy complete"));

    if (!renameFileOnVolume(updateVolumeName, updateFileName, updateTargetName)) {
        qWarning() << "FM: Failed to rename file on" << updateVolumeName;
        failUpdateTransfer();
        return;
    }
    updateFileInPlace = true;
    logTrace(QStringLiteral("FM: renamed, dismounting"));

    dismountUpdateVolume();
}

bool FileManager::copyFileToVolume(const QString &displayName, const QString &sourcePath)
{
    const QString root = findVolumeRootPath(displayName);
    if (root.isEmpty())
        return false;

    // Nothing downloaded yet: fail plainly rather than have Qt complain about an empty name.
    if (sourcePath.isEmpty())
        return false;
    // Unbuffered: a source that shrinks after its first chunk shows it at the next read.
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;

    const QString destinationPath =
        QDir(root).filePath(copyNameOnVolume(QFileInfo(sourcePath).fileName(), updateTargetName));
    // Opening the destination truncates it: were it the source itself, the update would be lost.
    const QString canonicalSource = QFileInfo(sourcePath).canonicalFilePath();
    if (!canonicalSource.isEmpty() &&
        canonicalSource == QFileInfo(destinationPath).canonicalFilePath())
        return false;
    const std::unique_ptr<QFile> destination = volumes->fileOnVolume(destinationPath);
    // UTF-8, as the seam takes it on every system.
    const int descriptor = openFileForFlushing(destinationPath.toStdString());
    if (descriptor < 0 ||
        !destination->open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        if (descriptor >= 0)
            closeFileDescriptor(descriptor);
        return false;
    }

    // The file as it was when opened, every byte of it and nothing more: a source that shrinks,
    // grows or cannot be read meanwhile is not the update that was checked.
    const qint64 total = source.size();
    qint64 copied = 0;
    char buffer[copyChunkSize];
    while (copied < total) {
        const qint64 bytesRead = source.read(buffer, qMin(copyChunkSize, total - copied));
        if (bytesRead <= 0)
            return false;
        if (destination->write(buffer, bytesRead) != bytesRead)
            return false;
        copied += bytesRead;
        emit copyProgress(copyPercentage(copied, total));
    }
    if (!source.atEnd())
        return false;
    source.close();
    // Closing only hands the data to the system's cache; an instrument unplugged after a failed
    // dismount must still find the whole file on its storage.
    if (!volumes->flushToDevice(*destination))
        return false;
    destination->close();
    return destination->error() == QFileDevice::NoError;
}

bool FileManager::renameFileOnVolume(const QString &displayName, const QString &oldName,
                                     const QString &newName)
{
    const QString root = findVolumeRootPath(displayName);
    if (root.isEmpty())
        return false;
    const QDir dir(root);
    // QFile::rename never replaces an existing file, which keeps an earlier update intact.
    return QFile::rename(dir.filePath(copyNameOnVolume(oldName, newName)), dir.filePath(newName)) &&
           volumes->flushDirectory(root);
}

bool FileManager::ejectVolume(const QString &displayName)
{
    const QString root = findVolumeRootPath(displayName);
    if (root.isEmpty()) {
        qWarning() << "FM: Cannot eject - no mounted volume named" << displayName;
        return false;
    }
    return dismounter->dismount(root);
}

void FileManager::openFolderOnDevice(const QString &deviceName, const QString &relativePath)
{
    const QString root = findVolumeRootPath(deviceName);
    if (root.isEmpty())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(root).filePath(relativePath)));
}

void FileManager::ejectDeviceAndEmit(const QString &deviceName)
{
    // Users eject the volume in their file manager out of habit, and a system may remount a
    // troubled one read-only: gone is released, and read-only is still dismounted.
    const QString root = findVolumeRootPath(deviceName, false);
    if (root.isEmpty()) {
        qInfo() << "FM: Already released - no mounted volume named" << deviceName;
        emit ejectCompleted(true);
        return;
    }
    emit ejectCompleted(dismounter->dismount(root));
}
