// Drive type and space on Linux: the file-system type and device from /proc/self/mounts, the
// removable flag of the disk from sysfs, the figures from statvfs (64-bit).
#include "platform/drive_type.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

namespace pixmoor {

namespace {

bool isNetworkFileSystem(const QString& type) {
    static const QSet<QString> network = {
        "nfs",   "nfs4",  "cifs",        "smb3",       "smbfs",          "fuse.sshfs",
        "9p",    "ceph",  "fuse.ceph",   "glusterfs",  "fuse.glusterfs", "afs",
        "ncpfs", "davfs", "fuse.davfs2", "fuse.rclone"};
    return network.contains(type);
}

// Local file systems that are not always on a block device of their own (a container's root).
bool isLocalDiskFileSystem(const QString& type) {
    static const QSet<QString> local = {"ext2",    "ext3",    "ext4",   "xfs",      "btrfs",
                                        "zfs",     "f2fs",    "jfs",    "reiserfs", "overlay",
                                        "aufs",    "vfat",    "exfat",  "ntfs",     "ntfs3",
                                        "fuseblk", "hfsplus", "nilfs2", "bcachefs"};
    return local.contains(type);
}

QString readSysfs(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(f.read(64)).trimmed();
}

// The sysfs folder of the whole disk a block device belongs to (a partition's parent).
QString diskFolder(const QString& device, const QString& sysfsRoot) {
    const QString resolved = QFileInfo(device).canonicalFilePath();
    const QString name = QFileInfo(resolved.isEmpty() ? device : resolved).fileName();
    if (name.isEmpty()) return {};
    QString folder =
        QFileInfo(sysfsRoot + QStringLiteral("/class/block/") + name).canonicalFilePath();
    if (folder.isEmpty()) return {};
    if (QFileInfo::exists(folder + QStringLiteral("/partition")))
        folder = QFileInfo(folder).absolutePath();
    return folder;
}

} // namespace

QString driveTypeText(DriveType type) {
    switch (type) {
    case DriveType::Removable:
        return QStringLiteral("Removable");
    case DriveType::Fixed:
        return QStringLiteral("Fixed");
    case DriveType::Remote:
        return QStringLiteral("Network");
    case DriveType::CdRom:
        return QStringLiteral("CD-Rom");
    case DriveType::RamDisk:
        return QStringLiteral("Ram Disk");
    case DriveType::Unknown:
    case DriveType::NoRootDir:
        return QStringLiteral("Don't Know");
    }
    return {};
}

const MountEntry* mountEntryOf(const QString& path, const std::vector<MountEntry>& mounts) {
    const QString clean = QDir::cleanPath(path);
    const MountEntry* best = nullptr;
    for (const MountEntry& m : mounts) {
        const QString point = QDir::cleanPath(m.mountPoint);
        const bool holds = point == QLatin1String("/")
                               ? clean.startsWith(u'/')
                               : clean == point || clean.startsWith(point + u'/');
        // Later mounts on the same point hide the earlier ones.
        if (holds && (!best || point.size() >= QDir::cleanPath(best->mountPoint).size())) best = &m;
    }
    return best;
}

DriveType driveTypeOf(const MountEntry& entry, const QString& sysfsRoot) {
    const QString& type = entry.fileSystem;
    if (isNetworkFileSystem(type)) return DriveType::Remote;
    if (type == QLatin1String("tmpfs") || type == QLatin1String("ramfs")) return DriveType::RamDisk;
    if (type == QLatin1String("iso9660")) return DriveType::CdRom;
    if (entry.device.startsWith(QLatin1String("/dev/"))) {
        const QString disk = diskFolder(entry.device, sysfsRoot);
        if (!disk.isEmpty()) {
            // SCSI type 5 is an optical drive (sr0 and the like).
            if (readSysfs(disk + QStringLiteral("/device/type")) == QLatin1String("5"))
                return DriveType::CdRom;
            if (readSysfs(disk + QStringLiteral("/removable")) == QLatin1String("1") ||
                disk.contains(QLatin1String("/usb")))
                return DriveType::Removable;
            return DriveType::Fixed;
        }
    }
    if (type == QLatin1String("udf")) return DriveType::CdRom;
    if (isLocalDiskFileSystem(type)) return DriveType::Fixed;
    return DriveType::Unknown;
}

DriveType driveTypeOfPath(const QString& path) {
    QFile table(QStringLiteral("/proc/self/mounts"));
    if (!table.open(QIODevice::ReadOnly)) return DriveType::Unknown;
    const std::vector<MountEntry> mounts = parseMountTable(table.readAll());
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty()) return DriveType::NoRootDir;
    const MountEntry* entry = mountEntryOf(canonical, mounts);
    return entry ? driveTypeOf(*entry) : DriveType::NoRootDir;
}

DriveSpace driveSpaceOf(const QString& path) {
    const QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady()) return {};
    return {storage.bytesTotal(), storage.bytesFree()};
}

} // namespace pixmoor
