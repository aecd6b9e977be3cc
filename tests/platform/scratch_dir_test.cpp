// The private scratch directory: created 0700, existing ones narrowed, symbolic links refused.
#include "platform/scratch_dir.h"
#include "tests/support/test_dirs.h"

#include <QDir>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Points XDG_RUNTIME_DIR somewhere else for one test.
class RuntimeDir {
public:
    explicit RuntimeDir(const std::string& dir) : old_(qgetenv("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
    }
    ~RuntimeDir() { qputenv("XDG_RUNTIME_DIR", old_); }

private:
    QByteArray old_;
};

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

} // namespace

TEST(ScratchDirectory, IsCreatedPrivateUnderTheRuntimeDirectory) {
    pixmoor::test::TempDir base;
    RuntimeDir env(base.path().string());
    const QString dir = pixmoor::scratchDirectory();
    EXPECT_EQ(dir.toStdString(), base.file("pixmoor"));
    EXPECT_EQ(modeOf(base.file("pixmoor")), 0700u);
    // Asking again gives the same directory.
    EXPECT_EQ(pixmoor::scratchDirectory(), dir);
}

TEST(ScratchDirectory, AnExistingOpenDirectoryIsNarrowedTo0700) {
    pixmoor::test::TempDir base;
    RuntimeDir env(base.path().string());
    ASSERT_EQ(::mkdir(base.file("pixmoor").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(base.file("pixmoor").c_str(), 0777), 0);
    pixmoor::scratchDirectory();
    EXPECT_EQ(modeOf(base.file("pixmoor")), 0700u);
}

TEST(ScratchDirectory, ASymbolicLinkOrAFileInItsPlaceIsRefused) {
    pixmoor::test::TempDir base;
    RuntimeDir env(base.path().string());
    ASSERT_EQ(::mkdir(base.file("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(base.file("elsewhere").c_str(), base.file("pixmoor").c_str()), 0);
    EXPECT_THROW(pixmoor::scratchDirectory(), std::runtime_error);
    ASSERT_EQ(::unlink(base.file("pixmoor").c_str()), 0);
    {
        FILE* f = std::fopen(base.file("pixmoor").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    EXPECT_THROW(pixmoor::scratchDirectory(), std::runtime_error);
}

TEST(ScratchDirectory, FallsBackToTheCacheDirectoryWithoutARuntimeDirectory) {
    pixmoor::test::TempDir cache;
    RuntimeDir env("");
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cache.path().string()));
    EXPECT_EQ(pixmoor::scratchDirectory().toStdString(), cache.file("pixmoor"));
    qputenv("XDG_CACHE_HOME", oldCache);
}
