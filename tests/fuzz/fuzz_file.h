// Shared by the codec fuzzers: the library reads files by name, so each input is written to one
// scratch file per process (in /dev/shm when there is one) that the reader then opens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace pixmoor::fuzz {

inline const std::string& scratchFile() {
    static const std::string name = [] {
        const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/pixmoor-fuzz-" + std::to_string(::getpid());
    }();
    return name;
}

// Writes the input to the scratch file; false when that fails (the input is then skipped).
inline bool writeInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(scratchFile().c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Removes the scratch file when the fuzzer exits.
struct ScratchCleanup {
    ~ScratchCleanup() { std::remove(scratchFile().c_str()); }
};

} // namespace pixmoor::fuzz
