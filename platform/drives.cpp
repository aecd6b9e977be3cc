// The drive list: mounted real file systems read from /proc/self/mounts.
#include "platform/drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace pixmoor {

namespace {

QString decodeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray oct = field.mid(i + 1, 3);
            bool ok = oct.size() == 3;
            for (char c : oct) ok = ok && c >= '0' && c <= '7';
            if (ok) {
                out.append(char(oct.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QFile::decodeName(out);
}

bool isPseudoFileSystem(const QString& type) {
    static const QSet<QString> pseudo = {
        "proc",        "sysfs",           "cgroup",      "cgroup2",    "devpts",
        "mqueue",      "debugfs",         "tracefs",     "securityfs", "pstore",
        "bpf",         "configfs",        "fusectl",     "hugetlbfs",  "autofs",
        "binfmt_misc", "devtmpfs",        "efivarfs",    "rpc_pipefs", "nsfs",
        "selinuxfs",   "fuse.gvfsd-fuse", "fuse.portal", "nfsd",       "rootfs"};
    return pseudo.contains(type);
}

bool underSystemTree(const QString& mountPoint) {
    for (const char* root : {"/proc", "/sys", "/dev", "/run"}) {
        const QString r = QString::fromLatin1(root);
        if (mountPoint == r || mountPoint.startsWith(r + '/')) return true;
    }
    return false;
}

} // namespace

std::vector<MountEntry> parseMountTable(const QByteArray& text) {
    std::vector<MountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3) continue;
        entries.push_back({decodeMountField(fields[0]), decodeMountField(fields[1]),
                           decodeMountField(fields[2])});
    }
    return entries;
}

QStringList driveMountPoints(const std::vector<MountEntry>& mounts) {
    QStringList result{QStringLiteral("/")};
    for (const MountEntry& m : mounts) {
        if (m.mountPoint.isEmpty() || !m.mountPoint.startsWith(u'/')) continue;
        if (isPseudoFileSystem(m.fileSystem) || underSystemTree(m.mountPoint)) continue;
        const QString point = QDir::cleanPath(m.mountPoint);
        if (result.contains(point)) continue;
        result.append(point);
    }
    return result;
}

QStringList mountedDrives() {
    QFile table(QStringLiteral("/proc/self/mounts"));
    if (!table.open(QIODevice::ReadOnly)) return {QStringLiteral("/")};
    QStringList drives;
    // Bind mounts of single files (containers mount /etc/hosts and the like) are not drives.
    for (const QString& point : driveMountPoints(parseMountTable(table.readAll())))
        if (QFileInfo(point).isDir()) drives.append(point);
    if (drives.isEmpty() || drives.first() != "/") drives.prepend(QStringLiteral("/"));
    return drives;
}

QString driveOf(const QString& path, const QStringList& drives) {
    const QString clean = QDir::cleanPath(path);
    QString best = QStringLiteral("/");
    for (const QString& d : drives) {
        const bool holds = d == "/" || clean == d || clean.startsWith(d + '/');
        if (holds && d.size() > best.size()) best = d;
    }
    return best;
}

} // namespace pixmoor
