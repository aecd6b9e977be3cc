// The Linux file adapters on real files: the attribute word (permissions, dot names,
// user.DOSATTRIB), the atomic copy and the no-replace rename, the drive type from mount table
// lines and a made-up sysfs, and delete to trash.
#include "platform/drive_type.h"
#include "platform/file_attributes.h"
#include "platform/file_copy.h"
#include "platform/trash.h"
#include "tests/support/test_dirs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStorageInfo>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace pixmoor;
namespace fs = std::filesystem;

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray randomBytes(qsizetype n) {
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) b[i] = char(QRandomGenerator::global()->bounded(256));
    return b;
}

QByteArray storedDosAttrib(const QString& path) {
    char buffer[64];
    const ssize_t n =
        ::getxattr(QFile::encodeName(path).constData(), kDosAttribName, buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

bool userXattrsWork(const QString& dir) {
    const QString probe = dir + "/.xattr-probe";
    writeFile(probe, "x");
    const bool ok = ::setxattr(QFile::encodeName(probe).constData(), "user.probe", "1", 1, 0) == 0;
    QFile::remove(probe);
    return ok;
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// Where the trash keeps a file deleted at path, as the freedesktop.org layout says: the
// top-directory trashes of its mount ($topdir/.Trash/$uid, $topdir/.Trash-$uid) when it is not on
// the home's file system, then the home trash ($XDG_DATA_HOME/Trash).
QStringList trashCandidates(const QString& path) {
    QStringList candidates;
    const QString uid = QString::number(::getuid());
    const QStorageInfo source(QFileInfo(path).absolutePath());
    const QStorageInfo home(QDir::home());
    if (source.isValid() && source != home) {
        const QString top = source.rootPath();
        const QString sep = top.endsWith(u'/') ? QString() : QStringLiteral("/");
        candidates << top + sep + QStringLiteral(".Trash/") + uid
                   << top + sep + QStringLiteral(".Trash-") + uid;
    }
    candidates << QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                      QStringLiteral("/Trash");
    return candidates;
}

} // namespace

TEST(FileAttributes, DosAttribTextAsSambaAndWineWriteIt) {
    EXPECT_EQ(parseDosAttrib("0x22"), AttributeWord(0x22));
    EXPECT_EQ(parseDosAttrib(QByteArray("0x20\0\x04\x00binary", 12)), AttributeWord(0x20));
    EXPECT_EQ(parseDosAttrib("36"), AttributeWord(36));
    EXPECT_FALSE(parseDosAttrib("junk"));
    EXPECT_FALSE(parseDosAttrib(""));
    EXPECT_EQ(formatDosAttrib(0x1a4), "0x1a4");
}

TEST(FileAttributes, ReadOnlyIsTheWritePermissionHiddenIsADotOrTheStoredBit) {
    test::TempDir dir;
    const QString base = qs(dir.path().string());
    if (!userXattrsWork(base)) GTEST_SKIP() << "no user extended attributes here";
    const QString plain = base + "/plain.bmp";
    const QString dot = base + "/.dot.bmp";
    writeFile(plain, "a");
    writeFile(dot, "b");
    EXPECT_EQ(readFileAttributes(plain), AttributeWord(0));
    EXPECT_EQ(readFileAttributes(dot), kAttrHidden);
    EXPECT_FALSE(readFileAttributes(base + "/missing.bmp"));

    // Read-only takes every write bit away and gives the owner's back; the rest is stored text.
    ::chmod(QFile::encodeName(plain).constData(), 0664);
    ASSERT_TRUE(writeFileAttributes(plain, kAttrReadOnly | kAttrSystem | kAttrHidden | 0x100));
    struct stat st {};
    ::stat(QFile::encodeName(plain).constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(storedDosAttrib(plain), "0x106");
    EXPECT_EQ(readFileAttributes(plain), AttributeWord(0x107));
    EXPECT_TRUE(QFileInfo::exists(plain)); // never renamed to hide it

    ASSERT_TRUE(writeFileAttributes(plain, 0x100 | kAttrArchive));
    ::stat(QFile::encodeName(plain).constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(readFileAttributes(plain), AttributeWord(0x120));

    // Clearing hidden on a dot file keeps its name (so it still reads hidden).
    ASSERT_TRUE(writeFileAttributes(dot, kAttrArchive));
    EXPECT_TRUE(QFileInfo::exists(dot));
    EXPECT_EQ(readFileAttributes(dot), AttributeWord(kAttrArchive | kAttrHidden));

    // Nothing stored when only read-only changes.
    const QString other = base + "/other.bmp";
    writeFile(other, "c");
    ASSERT_TRUE(writeFileAttributes(other, kAttrReadOnly));
    EXPECT_TRUE(storedDosAttrib(other).isEmpty());
}

TEST(FileCopy, SameBytesInANewFileAtEveryChunkEdge) {
    test::TempDir dir;
    const QString base = qs(dir.path().string());
    QDir(base).mkdir("to");
    for (const bool anonymous : {true, false}) {
        for (const qsizetype size : {0, 1, 5000, 5001, 3 << 20}) {
            SCOPED_TRACE(QString("%1 bytes, anonymous %2").arg(size).arg(anonymous).toStdString());
            const QByteArray bytes = randomBytes(size);
            const QString name = QString("f%1-%2.bin").arg(size).arg(anonymous);
            writeFile(base + "/" + name, bytes);
            CopyFileOptions options;
            options.anonymousTemporary = anonymous;
            options.durable = anonymous; // both roads
            EXPECT_EQ(copyFileAtomically(base + "/" + name, base + "/to/" + name, options), 0);
            EXPECT_EQ(readFile(base + "/to/" + name), bytes);
        }
    }
    // Nothing but the copies in the target directory.
    EXPECT_EQ(entriesOf(base + "/to").size(), 10);
}

TEST(FileCopy, NewOnlyNeverReplacesReplaceDoesAndFailuresLeaveNothing) {
    test::TempDir dir;
    const QString base = qs(dir.path().string());
    writeFile(base + "/src", "new bytes");
    writeFile(base + "/old", "old bytes");
    for (const bool anonymous : {true, false}) {
        CopyFileOptions options;
        options.anonymousTemporary = anonymous;
        EXPECT_EQ(copyFileAtomically(base + "/src", base + "/old", options), EEXIST);
        EXPECT_EQ(readFile(base + "/old"), "old bytes");
        EXPECT_EQ(entriesOf(base).size(), 2);
    }
    CopyFileOptions replace;
    replace.placement = Placement::Replace;
    EXPECT_EQ(copyFileAtomically(base + "/src", base + "/old", replace), 0);
    EXPECT_EQ(readFile(base + "/old"), "new bytes");

    // A missing source, a directory and a FIFO (which must not hang the open) are refused.
    EXPECT_EQ(copyFileAtomically(base + "/none", base + "/x"), ENOENT);
    QDir(base).mkdir("sub");
    EXPECT_EQ(copyFileAtomically(base + "/sub", base + "/x"), EISDIR);
    ASSERT_EQ(::mkfifo(QFile::encodeName(base + "/fifo").constData(), 0600), 0);
    EXPECT_NE(copyFileAtomically(base + "/fifo", base + "/x"), 0);
    EXPECT_FALSE(QFileInfo::exists(base + "/x"));
    // A target directory that does not exist.
    EXPECT_EQ(copyFileAtomically(base + "/src", base + "/nowhere/src"), ENOENT);
}

// Whatever leads a target back to the source (a link to its folder, another spelling, a hard
// link of the file in the target folder, a bind mount of the source folder), neither a copy
// with replacing nor a move ever takes the source's place or removes it.
void expectTargetsThatAreTheSourceRefused(const QString& source, const QStringList& targets) {
    const QByteArray bytes = randomBytes(70000);
    writeFile(source + "/photo.jpg", bytes);
    for (const QString& target : targets) {
        SCOPED_TRACE(target.toStdString());
        CopyFileOptions replace;
        replace.placement = Placement::Replace;
        EXPECT_EQ(copyFileAtomically(source + "/photo.jpg", target + "/photo.jpg", replace),
                  kTargetIsSource);
        bool removed = true;
        EXPECT_EQ(moveFileAtomically(source + "/photo.jpg", target + "/photo.jpg", removed,
                                     replace),
                  kTargetIsSource);
        EXPECT_FALSE(removed);
        EXPECT_EQ(readFile(source + "/photo.jpg"), bytes);
        EXPECT_EQ(entriesOf(source), QStringList({"photo.jpg"}));
    }
}

TEST(FileCopy, ATargetThatIsTheSourceIsRefusedAndTheSourceStays) {
    if (const char* bound = std::getenv("PIXMOOR_BOUND_SOURCE")) {
        // Inside a private mount namespace: the second folder is a bind mount of the first.
        expectTargetsThatAreTheSourceRefused(qs(bound), {qs(std::getenv("PIXMOOR_BIND_TARGET"))});
        return;
    }
    test::TempDir dir;
    const QString base = qs(dir.path().string());
    QDir(base).mkpath("photos");
    QDir(base).mkpath("other");
    ASSERT_TRUE(QFile::link(base + "/photos", base + "/link"));
    expectTargetsThatAreTheSourceRefused(base + "/photos",
                                         {base + "/link", base + "/other/../photos/."});
    // The same file under another name in the target folder.
    ASSERT_EQ(::link(QFile::encodeName(base + "/photos/photo.jpg").constData(),
                     QFile::encodeName(base + "/other/photo.jpg").constData()),
              0);
    expectTargetsThatAreTheSourceRefused(base + "/photos", {base + "/other"});
    EXPECT_EQ(readFile(base + "/other/photo.jpg"), readFile(base + "/photos/photo.jpg"));

    if (::geteuid() != 0 || test::run("unshare -m true 2>/dev/null") != 0) {
        GTEST_SKIP() << "a bind mount needs root and unshare";
    }
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    const std::string photos = (base + "/photos").toStdString(), mount = dir.file("mount");
    QDir(base).mkpath("mount");
    const std::string inner = "mount --bind '" + photos + "' '" + mount +
                              "' && PIXMOOR_BOUND_SOURCE='" + photos + "' PIXMOOR_BIND_TARGET='" +
                              mount + "' exec '" + self +
                              "' --gtest_filter=FileCopy.ATargetThatIsTheSourceIsRefused*";
    EXPECT_EQ(test::run("unshare -m sh -c \"" + inner + "\" >/dev/null 2>&1"), 0);
}

TEST(FileCopy, AMoveRemovesTheSourceOnlyOnceTheCopyIsInPlace) {
    test::TempDir dir;
    const QString base = qs(dir.path().string());
    QDir(base).mkpath("to");
    const QByteArray bytes = randomBytes(5000);
    writeFile(base + "/a", bytes);
    bool removed = false;
    EXPECT_EQ(moveFileAtomically(base + "/a", base + "/to/a", removed), 0);
    EXPECT_TRUE(removed);
    EXPECT_FALSE(QFileInfo::exists(base + "/a"));
    EXPECT_EQ(readFile(base + "/to/a"), bytes);
    // A failed copy (the name is taken) keeps the source.
    writeFile(base + "/a", bytes);
    EXPECT_EQ(moveFileAtomically(base + "/a", base + "/to/a", removed), EEXIST);
    EXPECT_FALSE(removed);
    EXPECT_EQ(readFile(base + "/a"), bytes);
}

TEST(FileCopy, RenameNeverReplacesAndSameDirectorySeesThroughLinks) {
    test::TempDir dir;
    const QString base = qs(dir.path().string());
    writeFile(base + "/a", "A");
    writeFile(base + "/b", "B");
    EXPECT_EQ(renameNoReplace(base + "/a", base + "/b"), EEXIST);
    EXPECT_EQ(readFile(base + "/a"), "A");
    EXPECT_EQ(readFile(base + "/b"), "B");
    EXPECT_EQ(renameNoReplace(base + "/a", base + "/c"), 0);
    EXPECT_FALSE(QFileInfo::exists(base + "/a"));
    EXPECT_EQ(readFile(base + "/c"), "A");

    QDir(base).mkdir("d");
    ASSERT_EQ(::symlink(QFile::encodeName(base + "/d").constData(),
                        QFile::encodeName(base + "/link").constData()),
              0);
    EXPECT_TRUE(sameDirectory(base + "/d", base + "/link"));
    EXPECT_TRUE(sameDirectory(base + "/d", base + "/d/../d/."));
    EXPECT_FALSE(sameDirectory(base + "/d", base));
    EXPECT_FALSE(sameDirectory(base + "/d", base + "/missing"));
    EXPECT_TRUE(entryExists(base + "/link"));
    ASSERT_EQ(::symlink("/nonexistent/target", QFile::encodeName(base + "/dangling").constData()),
              0);
    EXPECT_TRUE(entryExists(base + "/dangling"));
}

TEST(DriveType, FromMountTableLines) {
    const std::vector<MountEntry> mounts = parseMountTable("overlay / overlay rw,relatime 0 0\n"
                                                           "tmpfs /tmp tmpfs rw 0 0\n"
                                                           "/dev/vda /work ext4 rw 0 0\n"
                                                           "server:/export /mnt/nfs nfs4 rw 0 0\n"
                                                           "//nas/share /mnt/smb cifs rw 0 0\n"
                                                           "/dev/sr0 /media/cdrom iso9660 ro 0 0\n"
                                                           "gvfsd /mnt/odd fuse.odd rw 0 0\n"
                                                           "/dev/sdz1 /work ext4 rw 0 0\n");
    const auto typeOf = [&](const QString& path) {
        const MountEntry* entry = mountEntryOf(path, mounts);
        return entry ? driveTypeText(driveTypeOf(*entry, "/nonexistent-sysfs")) : QString();
    };
    EXPECT_EQ(typeOf("/home/user"), "Fixed"); // overlay: a container's root
    EXPECT_EQ(typeOf("/tmp/x/y"), "Ram Disk");
    EXPECT_EQ(typeOf("/tmpfoo"), "Fixed"); // not below /tmp
    EXPECT_EQ(typeOf("/mnt/nfs/a"), "Network");
    EXPECT_EQ(typeOf("/mnt/smb"), "Network");
    EXPECT_EQ(typeOf("/media/cdrom/x"), "CD-Rom");
    EXPECT_EQ(typeOf("/mnt/odd"), "Don't Know");
    // The later of two mounts on one point hides the earlier one.
    EXPECT_EQ(mountEntryOf("/work/a", mounts)->device, "/dev/sdz1");
    EXPECT_EQ(typeOf("/work/a"), "Fixed"); // ext4, no sysfs entry
    EXPECT_EQ(mountEntryOf("relative", mounts), nullptr);
    EXPECT_EQ(driveTypeText(DriveType::NoRootDir), "Don't Know");
}

TEST(DriveType, RemovableFixedAndOpticalDisksFromSysfs) {
    test::TempDir dir;
    const QString sys = qs(dir.path().string());
    // A USB stick with one partition, a fixed disk, an optical drive.
    const auto disk = [&](const QString& devicePath, const QString& name, const QString& removable,
                          const QString& scsiType) {
        QDir(sys).mkpath(devicePath + "/" + name + "/device");
        writeFile(sys + "/" + devicePath + "/" + name + "/removable", removable.toLatin1());
        if (!scsiType.isEmpty())
            writeFile(sys + "/" + devicePath + "/" + name + "/device/type", scsiType.toLatin1());
    };
    disk("devices/pci0/usb1/1-1/host6/block", "sdb", "0\n", "0\n");
    QDir(sys).mkpath("devices/pci0/usb1/1-1/host6/block/sdb/sdb1");
    writeFile(sys + "/devices/pci0/usb1/1-1/host6/block/sdb/sdb1/partition", "1\n");
    disk("devices/pci0/ata1/block", "sda", "0\n", "0\n");
    disk("devices/pci0/ata2/block", "sr0", "1\n", "5\n");
    disk("devices/pci0/mmc/block", "mmcblk0", "1\n", "");
    QDir(sys).mkpath("class/block");
    for (const auto& [name, target] : std::vector<std::pair<QString, QString>>{
             {"sdb1", "../../devices/pci0/usb1/1-1/host6/block/sdb/sdb1"},
             {"sda", "../../devices/pci0/ata1/block/sda"},
             {"sr0", "../../devices/pci0/ata2/block/sr0"},
             {"mmcblk0", "../../devices/pci0/mmc/block/mmcblk0"}})
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                            QFile::encodeName(sys + "/class/block/" + name).constData()),
                  0);
    EXPECT_EQ(driveTypeOf({"/dev/sdb1", "/media/stick", "vfat"}, sys), DriveType::Removable);
    EXPECT_EQ(driveTypeOf({"/dev/sda", "/", "ext4"}, sys), DriveType::Fixed);
    EXPECT_EQ(driveTypeOf({"/dev/sr0", "/media/dvd", "udf"}, sys), DriveType::CdRom);
    EXPECT_EQ(driveTypeOf({"/dev/mmcblk0", "/media/card", "exfat"}, sys), DriveType::Removable);
}

TEST(DriveType, SpaceOfARealDirectoryAndOfNothing) {
    const DriveSpace here = driveSpaceOf(QDir::tempPath());
    EXPECT_GT(here.total, 0);
    EXPECT_GE(here.free, 0);
    EXPECT_LE(here.free, here.total);
    const DriveSpace none = driveSpaceOf("/nonexistent/dir");
    EXPECT_EQ(none.total, -1);
    EXPECT_EQ(none.free, -1);
    EXPECT_EQ(driveTypeOfPath("/nonexistent/dir"), DriveType::NoRootDir);
}

TEST(Trash, ADeletedFileCanBeFoundInTheTrashWithItsInfo) {
    test::TempDir dir;
    const QString base = qs(dir.path().string());
    writeFile(base + "/a.bmp", "first");
    ::chmod(QFile::encodeName(base + "/a.bmp").constData(), 0444); // read-only goes too
    ASSERT_EQ(deleteToTrash(base + "/a.bmp"), DeleteOutcome::Trashed);
    EXPECT_FALSE(QFileInfo::exists(base + "/a.bmp"));
    QString found;
    for (const QString& trash : trashCandidates(base + "/a.bmp"))
        if (QFileInfo::exists(trash + "/files/a.bmp")) found = trash;
    ASSERT_FALSE(found.isEmpty());
    EXPECT_EQ(readFile(found + "/files/a.bmp"), "first");
    EXPECT_TRUE(
        readFile(found + "/info/a.bmp.trashinfo").contains("Path=" + QFile::encodeName(base)));
    QFile::remove(found + "/files/a.bmp");
    QFile::remove(found + "/info/a.bmp.trashinfo");

    EXPECT_EQ(deleteToTrash(base + "/missing.bmp"), DeleteOutcome::Failed);
}

// The trash a file goes to never lies inside the user's folders: with no data folder at all
// (an account without ~/.local/share) the home trash is created, private, with its parents; a
// file on another mount goes to that mount's top-directory trash.
TEST(Trash, AFileGoesToTheHomeTrashEvenWithoutADataFolderOrToItsMountsTrash) {
    const auto expectTrashed = [](const QString& photos, const QString& trash) {
        writeFile(photos + "/a.bmp", "photo");
        writeFile(photos + "/b.bmp", "stays");
        ASSERT_EQ(deleteToTrash(photos + "/a.bmp"), DeleteOutcome::Trashed);
        EXPECT_EQ(entriesOf(photos), QStringList({"b.bmp"}));
        EXPECT_EQ(readFile(trash + "/files/a.bmp"), "photo");
        EXPECT_TRUE(QFileInfo::exists(trash + "/info/a.bmp.trashinfo"));
        for (const QString& folder : {trash, trash + "/files", trash + "/info"}) {
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u) << folder.toStdString();
        }
    };
    if (const char* mount = std::getenv("PIXMOOR_TRASH_MOUNT")) {
        // Inside a private mount namespace with a small ext4 file system at mount (GIO keeps no
        // trash on tmpfs and other system mounts).
        expectTrashed(qs(mount) + "/photos", qs(mount) + "/.Trash-" + QString::number(::getuid()));
        return;
    }
    test::TempDir dir;
    const QString photos = qs(dir.path().string()) + "/photos";
    QDir().mkpath(photos);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    ASSERT_TRUE(data.startsWith(QDir::tempPath())) << "the test must not touch the user's trash";
    ASSERT_TRUE(QDir(data).removeRecursively());
    expectTrashed(photos, data + "/Trash");

    if (::geteuid() != 0 || test::run("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP() << "another mount needs root and unshare";
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string mount = dir.file("mount");
    QDir().mkpath(qs(mount));
    const std::string image = dir.file("disk.img");
    if (test::run("truncate -s 8M '" + image + "' && mkfs.ext4 -q '" + image + "'") != 0)
        GTEST_SKIP() << "mkfs.ext4 is not available";
    const std::string inner = "mount -o loop '" + image + "' '" + mount + "' && mkdir '" + mount +
                              "/photos' && PIXMOOR_TRASH_MOUNT='" + mount + "' exec '" + self +
                              "' --gtest_filter=Trash.AFileGoesToTheHomeTrash*";
    EXPECT_EQ(test::run("unshare -m sh -c \"" + inner + "\" >/dev/null 2>&1"), 0);
}

TEST(Trash, AnUnwritableTrashIsNeverHandedTheFileAndAnImmutableFileStays) {
    test::TempDir dir;
    const QString base = qs(dir.path().string());
    writeFile(base + "/a.bmp", "x");
    // An info folder that takes no file would make Qt's trash loop for ever: the file is removed
    // for good instead (as root, permissions do not stop writing, so a file stands in for it).
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    ASSERT_TRUE(home.startsWith(QDir::tempPath())) << "the test must not touch the user's trash";
    const QStringList candidates = trashCandidates(base + "/a.bmp");
    const QString trash = candidates.last();
    QDir(trash).removeRecursively();
    QDir().mkpath(trash);
    writeFile(trash + "/info", "not a folder");
    for (const QString& c : candidates)
        if (c != trash) QDir().mkpath(c), writeFile(c + "/info", "not a folder");
    EXPECT_EQ(deleteToTrash(base + "/a.bmp"), DeleteOutcome::RemovedForGood);
    EXPECT_FALSE(QFileInfo::exists(base + "/a.bmp"));
    for (const QString& c : candidates) QDir(c).removeRecursively();

    writeFile(base + "/fixed.bmp", "y");
    const std::string path = (dir.path() / "fixed.bmp").string();
    if (test::run("chattr +i '" + path + "' 2>/dev/null") != 0)
        GTEST_SKIP() << "chattr +i is not possible here";
    EXPECT_EQ(deleteToTrash(base + "/fixed.bmp"), DeleteOutcome::Failed);
    EXPECT_EQ(readFile(base + "/fixed.bmp"), "y");
    test::run("chattr -i '" + path + "'");
}
