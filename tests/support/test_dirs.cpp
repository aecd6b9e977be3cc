// Temporary directories and small helpers shared by the tests.
#include "tests/support/test_dirs.h"

#include <cstdlib>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    for (;;) {
        auto candidate = fs::temp_directory_path() / ("pixmoor-test-" + std::to_string(getpid()) +
                                                      "-" + std::to_string(rd() % 1000000000u));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write permission so read-only fixtures can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

int run(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveProgram(const std::string& name) {
    return run("command -v '" + name + "' >/dev/null 2>&1") == 0;
}

void usePrivateXdgDirs() {
    // Lives for the whole test run and is removed at exit.
    static TempDir home;
    for (const char* var :
         {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "XDG_DATA_HOME"}) {
        auto dir = home.path() / var;
        fs::create_directories(dir);
        ::chmod(dir.c_str(), 0700);
        ::setenv(var, dir.c_str(), 1);
    }
}

} // namespace pixmoor::test
