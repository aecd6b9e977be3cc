// Temporary directories and small helpers shared by the tests.
#pragma once

#include <filesystem>
#include <string>

namespace pixmoor::test {

// A fresh directory under the system's temporary folder, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Runs a shell command; returns its exit status (-1 when it could not be run).
int run(const std::string& command);

// Whether an external program is on PATH.
bool haveProgram(const std::string& name);

// Points XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and XDG_DATA_HOME (the trash) at
// private folders of this process.
void usePrivateXdgDirs();

} // namespace pixmoor::test
