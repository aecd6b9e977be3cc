// The kind of drive a directory lies on (removable, fixed, network, CD-ROM, RAM disk), decided
// from the mount table and sysfs, and the drive's size and free space.
#pragma once

#include "platform/drives.h"

#include <QString>
#include <vector>

namespace pixmoor {

enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

// "Removable", "Fixed", "Network", "CD-Rom", "Ram Disk", "Don't Know".
QString driveTypeText(DriveType type);

// The entry of mounts whose mount point holds path: the longest such mount point, the last one
// mounted when several share it. Nothing (a null pointer) when none does.
const MountEntry* mountEntryOf(const QString& path, const std::vector<MountEntry>& mounts);

// The drive type of one mounted file system. Block devices are looked up under sysfsRoot
// (normally "/sys"): removable when the disk says so or hangs off USB.
DriveType driveTypeOf(const MountEntry& entry, const QString& sysfsRoot = QStringLiteral("/sys"));

// The drive type of the mount that holds path, from this process's mount table.
DriveType driveTypeOfPath(const QString& path);

// Total and free bytes of the file system holding path; -1 each when they cannot be read.
struct DriveSpace {
    qint64 total = -1;
    qint64 free = -1;
};
DriveSpace driveSpaceOf(const QString& path);

} // namespace pixmoor
