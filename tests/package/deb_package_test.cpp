// The Debian package built by CPack: lintian finds no error in it, its files are where the menu
// entry says, it carries the project's licence as the metadata states it, its dependencies are
// declared and met by a Debian system that has them, and it installs into and is removed from a
// throw-away root without leftovers.
#include "tests/help/help_test_util.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using pixmoor::test::capture;

namespace {

// Package names of a Depends field ("a (>= 1), b | c" gives a, b, c).
std::set<std::string> dependencyNames(const std::string& depends) {
    std::set<std::string> names;
    static const std::regex name(R"((^|[,|])\s*([a-z0-9][a-z0-9+.-]+))");
    for (auto it = std::sregex_iterator(depends.begin(), depends.end(), name);
         it != std::sregex_iterator(); ++it)
        names.insert((*it)[2]);
    return names;
}

// The stanzas of this machine's dpkg status for the given packages: a root that holds them is a
// Debian system with exactly those packages installed.
std::string statusOf(const std::set<std::string>& packages) {
    std::istringstream status(pixmoor::test::readText("/var/lib/dpkg/status"));
    std::string stanza, line, kept;
    const auto flush = [&] {
        std::smatch m;
        static const std::regex package(R"(^Package: (\S+)$)", std::regex::multiline);
        if (std::regex_search(stanza, m, package) && packages.count(m[1]) &&
            stanza.find("Status: install ok installed") != std::string::npos)
            kept += stanza + "\n";
        stanza.clear();
    };
    while (std::getline(status, line)) {
        if (line.empty())
            flush();
        else
            stanza += line + "\n";
    }
    flush();
    return kept;
}

std::vector<std::string> filesUnder(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (!e.is_directory()) files.push_back(fs::relative(e.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

TEST(DebPackage, InstallsIntoAThrowAwayRootAndIsRemovedWithoutLeftovers) {
    for (const char* tool : {"dpkg", "dpkg-deb", "dpkg-shlibdeps", "lintian"})
        ASSERT_TRUE(pixmoor::test::haveProgram(tool)) << tool << " is needed (scripts/deps.sh)";
    pixmoor::test::TempDir work;
    const auto built = capture("'" PIXMOOR_CPACK "' --config '" PIXMOOR_BUILD_DIR
                               "/CPackConfig.cmake' -G DEB -B '" +
                               work.file("out") + "'");
    ASSERT_EQ(built.status, 0) << built.output;
    std::string deb;
    for (const auto& e : fs::directory_iterator(work.file("out")))
        if (e.path().extension() == ".deb") deb = e.path().string();
    ASSERT_FALSE(deb.empty()) << built.output;

    // Debian's own checks (warnings such as a missing manual page are not errors).
    const auto lintian = capture("lintian --fail-on error '" + deb + "'");
    EXPECT_EQ(lintian.status, 0) << lintian.output;

    // Control fields.
    const auto field = [&deb](const std::string& name) {
        std::string value = capture("dpkg-deb -f '" + deb + "' " + name).output;
        while (!value.empty() && value.back() == '\n') value.pop_back();
        return value;
    };
    EXPECT_EQ(field("Package"), "pixmoor");
    EXPECT_EQ(field("Version"), "1.00");
    EXPECT_EQ(field("Section"), "graphics");
    const std::set<std::string> depends = dependencyNames(field("Depends"));
    for (const char* needed :
         {"libqt6widgets6", "libqt6help6", "libqt6svg6", "libqt6sql6-sqlite", "qt6-wayland",
          "libjpeg62-turbo", "libpng16-16", "libtiff6", "libgif7", "libc6", "libstdc++6"})
        EXPECT_TRUE(depends.count(needed)) << needed << " not declared: " << field("Depends");

    // A root holding just the declared dependencies (as this machine has them installed, and so
    // as Debian 12 ships them): dpkg installs the package there without being forced.
    const fs::path root = work.file("root");
    fs::create_directories(root / "var/lib/dpkg/info");
    fs::create_directories(root / "var/lib/dpkg/updates");
    const std::string status = statusOf(depends);
    pixmoor::test::writeText((root / "var/lib/dpkg/status").string(), status);
    for (const std::string& name : depends) {
        EXPECT_NE(status.find("Package: " + name + "\n"), std::string::npos)
            << name << " is not a package installed on this Debian system";
        for (const std::string& list : {name + ".list", name + ":amd64.list"})
            pixmoor::test::writeText((root / "var/lib/dpkg/info" / list).string(), "");
    }
    const std::string dpkg = "dpkg --root='" + root.string() + "' ";
    const auto installed = capture(dpkg + "-i '" + deb + "'");
    ASSERT_EQ(installed.status, 0) << installed.output;
    EXPECT_NE(capture(dpkg + "-s pixmoor").output.find("Status: install ok installed"),
              std::string::npos);

    // The files are where the menu entry and the metadata say.
    const fs::path usr = root / "usr";
    EXPECT_TRUE(fs::is_regular_file(usr / "bin/pixmoor"));
    EXPECT_EQ(fs::status(usr / "bin/pixmoor").permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec);
    EXPECT_TRUE(fs::is_regular_file(usr / "share/pixmoor/pixmoor.hlp"));
    const std::string entry =
        pixmoor::test::readText((usr / "share/applications/org.pixmoor.Pixmoor.desktop").string());
    ASSERT_FALSE(entry.empty());
    EXPECT_TRUE(fs::is_regular_file(usr / "bin" / pixmoor::test::desktopValue(entry, "Exec")));
    const std::string icon = pixmoor::test::desktopValue(entry, "Icon");
    EXPECT_TRUE(fs::is_regular_file(usr / "share/icons/hicolor/scalable/apps" / (icon + ".svg")));
    for (const char* size : {"16x16", "32x32", "48x48", "128x128", "256x256"})
        EXPECT_TRUE(
            fs::is_regular_file(usr / "share/icons/hicolor" / size / "apps" / (icon + ".png")))
            << size;
    const std::string metainfo =
        pixmoor::test::readText((usr / "share/metainfo/org.pixmoor.Pixmoor.metainfo.xml").string());
    EXPECT_NE(metainfo.find("<launchable type=\"desktop-id\">org.pixmoor.Pixmoor.desktop<"),
              std::string::npos);

    // The copyright in Debian's machine-readable form, under the licence the metadata names.
    const std::string copyright =
        pixmoor::test::readText((usr / "share/doc/pixmoor/copyright").string());
    EXPECT_EQ(copyright.rfind(
                  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n", 0),
              0u)
        << copyright;
    std::smatch license;
    static const std::regex projectLicense(R"(<project_license>([^<]+)</project_license>)");
    ASSERT_TRUE(std::regex_search(metainfo, license, projectLicense));
    EXPECT_NE(copyright.find("\nFiles: *\nCopyright: "), std::string::npos) << copyright;
    EXPECT_NE(copyright.find("\nLicense: " + license[1].str() + "\n"), std::string::npos)
        << copyright;

    // Purged, nothing of it stays outside dpkg's own records.
    const auto removed = capture(dpkg + "-P pixmoor");
    ASSERT_EQ(removed.status, 0) << removed.output;
    EXPECT_FALSE(fs::exists(usr)) << "left behind: " << testing::PrintToString(filesUnder(root));
    for (const std::string& file : filesUnder(root))
        EXPECT_EQ(file.rfind("var/lib/dpkg/", 0), 0u) << "left behind: " << file;
    EXPECT_EQ(capture(dpkg + "-s pixmoor").status, 1);
}
