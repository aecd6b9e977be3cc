// The "drives" of the drive selector: the mount points of real file systems, "/" first.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace pixmoor {

struct MountEntry {
    QString device;
    QString mountPoint;
    QString fileSystem;
};

// Parses the text of /proc/self/mounts (octal escapes such as \040 decoded).
std::vector<MountEntry> parseMountTable(const QByteArray& text);

// The mount points worth browsing: pseudo file systems (proc, sysfs, cgroup, devpts, ...) and
// the runtime tmpfs mounts under /run, /dev and /sys are left out; duplicates are dropped;
// "/" comes first, the rest in mount order.
QStringList driveMountPoints(const std::vector<MountEntry>& mounts);

// driveMountPoints of this process's mount table; just "/" when the table cannot be read.
QStringList mountedDrives();

// The mount point among drives that holds path: the longest one that is path or a parent of it.
QString driveOf(const QString& path, const QStringList& drives);

} // namespace pixmoor
