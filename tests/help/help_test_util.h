// Small helpers of the help and installation tests: running a command for its output, reading a
// text file, and compiling a help document of one's own.
#pragma once

#include "tests/support/test_dirs.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace pixmoor::test {

struct CommandResult {
    int status = -1;
    std::string output; // standard output and standard error
};

// Runs a shell command; its standard error is taken with its standard output.
inline CommandResult capture(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The value of a key of a .desktop file's main group ("" when missing).
inline std::string desktopValue(const std::string& entry, const std::string& key) {
    std::istringstream lines(entry);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return {};
}

// Compiles a help document into dir/name whose contents topic carries `marker`, with the topics
// every Pixmoor help document has. Returns qhelpgenerator's status.
inline int makeHelpDocument(const std::string& dir, const std::string& name,
                            const std::string& marker) {
    writeText(dir + "/index.html", "<html><head><title>Local help</title></head><body><h1>" +
                                       marker + "</h1></body></html>");
    writeText(dir + "/using-help.html", "<html><head><title>Using</title></head><body>"
                                        "<p>Local using help</p></body></html>");
    writeText(dir + "/local.qhp",
              R"(<?xml version="1.0" encoding="UTF-8"?>
<QtHelpProject version="1.0"><namespace>org.pixmoor.help</namespace>
<virtualFolder>doc</virtualFolder><filterSection>
<toc><section title="Local help" ref="index.html"/></toc><keywords/>
<files><file>index.html</file><file>using-help.html</file></files>
</filterSection></QtHelpProject>)");
    return run("ASAN_OPTIONS=detect_leaks=0 '" PIXMOOR_QHELPGENERATOR "' -s '" + dir +
               "/local.qhp' -o '" + dir + "/" + name + "' >/dev/null 2>&1");
}

} // namespace pixmoor::test
