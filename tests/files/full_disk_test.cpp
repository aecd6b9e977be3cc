// The file commands on a full disk and a read-only file system, each a small tmpfs mounted in a
// private mount namespace (needs root and unshare): nothing is lost, nothing partial is left, and
// a delete on a read-only mount ends with an error instead of hanging in the trash code.
#include "tests/files/file_commands_fixture.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

std::string q(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

TEST_F(FileCommands, AFullDiskOrAReadOnlyMountLosesNothing) {
    const char* full = std::getenv("PIXMOOR_FULL_DIR");
    const char* readOnly = std::getenv("PIXMOOR_RO_DIR");
    if (!full || !readOnly) {
        if (::geteuid() != 0 || !haveProgram("unshare"))
            GTEST_SKIP() << "needs root and unshare for a private tmpfs";
        if (run("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "unshare refused";
        char self[PATH_MAX] = {};
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        ASSERT_GT(n, 0);
        TempDir mounts;
        const std::string f = (mounts.path() / "full").string();
        const std::string r = (mounts.path() / "ro").string();
        const std::string inner =
            "mkdir " + q(f) + " " + q(r) + " && mount -t tmpfs -o size=1m tmpfs " + q(f) +
            " && mount -t tmpfs -o size=1m tmpfs " + q(r) + " && mkdir -p " +
            q(r + "/.Trash-0/info") + " " +
            q(r + "/.Trash-" + std::to_string(::getuid()) + "/info") + " && echo x > " +
            q(r + "/x.bmp") + " && mount -o remount,ro " + q(r) + " && PIXMOOR_FULL_DIR=" + q(f) +
            " PIXMOOR_RO_DIR=" + q(r) + " exec " + q(self) +
            " --gtest_filter=FileCommands.AFullDiskOrAReadOnlyMountLosesNothing";
        EXPECT_EQ(run("unshare -m sh -c " + q(inner) + " >/dev/null 2>&1"), 0)
            << "the file commands misbehaved on a full or read-only file system";
        return;
    }
    ::alarm(120); // a hang in the trash code ends the run instead of the suite

    const QString target = QString::fromLocal8Bit(full);
    writeFile(target + "/filler", patternBytes(700 * 1024));
    writeFile(target + "/small.bmp", "old target");
    writeFile(path("big.bmp"), patternBytes(2 * 1024 * 1024, 1));
    writeFile(path("small.bmp"), patternBytes(400 * 1024, 2));
    browse();
    for (QAction* command : {form->Move1, form->Copy1}) {
        messages.clear();
        form->ListView1->selectAll();
        copyTo(command, target);
        EXPECT_EQ(messageTexts(), QStringList({"Error copying file big.bmp",
                                               "File already exists small.bmp Overwrite ?",
                                               "Error copying file small.bmp"}));
        EXPECT_EQ(readFile(target + "/small.bmp"), "old target");
        EXPECT_EQ(entriesOf(target), QStringList({"filler", "small.bmp"})); // nothing partial
        EXPECT_EQ(readFile(path("big.bmp")), patternBytes(2 * 1024 * 1024, 1));
        EXPECT_EQ(readFile(path("small.bmp")), patternBytes(400 * 1024, 2));
        EXPECT_EQ(captions(), QStringList({"big.bmp", "small.bmp"}));
    }
    // The space is there again for a file that fits.
    QFile::remove(target + "/filler");
    messages.clear();
    form->ListView1->setSelected(0, false);
    copyTo(form->Move1, target);
    EXPECT_EQ(messageTexts(), QStringList({"File already exists small.bmp Overwrite ?"}));
    EXPECT_EQ(readFile(target + "/small.bmp"), patternBytes(400 * 1024, 2));
    EXPECT_EQ(captions(), QStringList({"big.bmp"}));

    // A read-only mount whose trash exists: the delete is refused at once.
    messages.clear();
    browse(QString::fromLocal8Bit(readOnly));
    ASSERT_EQ(captions(), QStringList({"x.bmp"}));
    form->ListView1->selectAll();
    form->Delete1->trigger();
    EXPECT_EQ(messageTexts(), QStringList({"Confirm File Delete", "Error Deleting File x.bmp"}));
    EXPECT_EQ(captions(), QStringList({"x.bmp"}));
    EXPECT_TRUE(QFileInfo::exists(QString::fromLocal8Bit(readOnly) + "/x.bmp"));
    ::alarm(0);
}

} // namespace
