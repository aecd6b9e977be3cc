// The Debian package on a Debian system that has nothing but what the package declares: a minimal
// root (debootstrap from apt's own mirror, cached in the build tree) into which apt-get installs
// the package. Started there under X11, the program draws every tool button's icon. The icons are
// SVG, drawn by Qt plugins that no library links to, so only the package's declared dependencies
// can bring them.
#include "tests/help/help_test_util.h"
#include "tests/support/xdotool.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using pixmoor::test::capture;

namespace {

using pixmoor::test::xdotool;

// The tool buttons' pictures, left to right: each button is 40 pixels wide, the first at x = 8 of
// the tool bar, the tool bar at the left edge of the window below its menu bar.
const char* const toolIcons[] = {"move",  "copy",      "delete", "rename", "print", "printsetup",
                                 "view",  "thumbsize", "help",   "stop",   "exit"};
constexpr int firstButtonX = 8;
constexpr int buttonStep = 40;
constexpr int iconSize = 32;

std::string shellQuoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// One apt source line of this machine's Debian release: "URI SUITE".
struct Source {
    std::string uri, suite;
};

// The release's suites (RELEASE, RELEASE-updates, RELEASE-security) as apt on this machine
// fetches them; the first is the release itself. Empty when apt has no mirror of it.
std::vector<Source> debianSources() {
    std::string codename;
    std::istringstream release(pixmoor::test::readText("/etc/os-release"));
    for (std::string line; std::getline(release, line);)
        if (line.rfind("VERSION_CODENAME=", 0) == 0) codename = line.substr(17);
    if (codename.empty()) return {};
    const auto targets = capture("apt-get indextargets --format '$(REPO_URI) $(RELEASE) "
                                 "$(COMPONENT)' 'Identifier: Packages' 2>/dev/null");
    std::vector<Source> sources;
    for (const std::string& suite : {codename, codename + "-updates", codename + "-security"}) {
        std::istringstream lines(targets.output);
        for (std::string uri, rel, component; lines >> uri >> rel >> component;)
            if (rel == suite && component == "main") {
                while (uri.size() > 1 && uri.back() == '/') uri.pop_back();
                sources.push_back({uri, suite});
                break;
            }
        if (sources.empty()) return {}; // the release itself comes first
    }
    return sources;
}

bool mirrorAnswers(const Source& release) {
    return capture("wget -q -T 30 -t 2 -O /dev/null " +
                   shellQuoted(release.uri + "/dists/" + release.suite + "/InRelease"))
               .status == 0;
}

// Runs script in a private mount namespace (its mounts vanish with it) with /proc of the root.
std::string inNamespace(const fs::path& root, const std::string& mounts,
                        const std::string& script) {
    return "unshare -m sh -ec " +
           shellQuoted(mounts + "\nmount -t proc proc " + shellQuoted((root / "proc").string()) + "\n" +
                  script);
}

// dpkg without a sync after every file: the roots are throw-away (an install is then several
// times faster).
const std::string unsafeIo = "-o Dpkg::Options::=--force-unsafe-io";

std::string chroot(const fs::path& root, const std::string& command) {
    return "chroot " + shellQuoted(root.string()) +
           " env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive " +
           command;
}

// Builds the minimal root once into cache/root (a root left half-built by an interrupted run is
// built again), up to date with the release's suites. Returns a message on failure.
std::string buildRoot(const fs::path& cache, const std::vector<Source>& sources) {
    const fs::path root = cache / "root", building = cache / "root.new";
    if (fs::is_directory(root)) return {};
    std::error_code ec;
    fs::remove_all(building, ec);
    fs::create_directories(cache);
    const auto made = capture("debootstrap --variant=minbase " + shellQuoted(sources[0].suite) + " " +
                              shellQuoted(building.string()) + " " + shellQuoted(sources[0].uri));
    if (made.status != 0) return "debootstrap failed:\n" + made.output;
    std::string list;
    for (const Source& s : sources) list += "deb " + s.uri + " " + s.suite + " main\n";
    pixmoor::test::writeText((building / "etc/apt/sources.list").string(), list);
    const auto updated = capture(inNamespace(
        building, "",
        chroot(building, "apt-get update -q") + "\n" +
            chroot(building, "apt-get upgrade -y -q " + unsafeIo) + "\n" +
            chroot(building, "apt-get clean")));
    if (updated.status != 0) return "apt-get update in the root failed:\n" + updated.output;
    fs::rename(building, root, ec);
    return ec ? "cannot rename the root: " + ec.message() : std::string();
}

// Overlays a throw-away upper layer on the cached root at merged, and keeps apt's downloads in
// the cache (so a later run installs without the network).
std::string overlayMounts(const fs::path& cache, const fs::path& work, const fs::path& merged) {
    return "mount -t overlay overlay -o " +
           shellQuoted("lowerdir=" + (cache / "root").string() + ",upperdir=" +
                  (work / "upper").string() + ",workdir=" + (work / "overlay").string()) +
           " " + shellQuoted(merged.string()) + "\nmount --bind " + shellQuoted((cache / "debs").string()) +
           " " + shellQuoted((merged / "var/cache/apt/archives").string());
}

QImage screenshot(const std::string& fbdir, const std::string& png) {
    if (capture("convert " + shellQuoted("xwd:" + fbdir + "/Xvfb_screen0") + " " + shellQuoted(png)).status !=
        0)
        return {};
    return QImage(QString::fromStdString(png)).convertToFormat(QImage::Format_RGB32);
}

// Whether the opaque pixels of icon appear (within a small tolerance) in shot with the icon's
// top-left corner at (x, y).
bool iconAt(const QImage& shot, const QImage& icon, int x, int y) {
    if (x < 0 || y < 0 || x + icon.width() > shot.width() || y + icon.height() > shot.height())
        return false;
    int opaque = 0, same = 0;
    for (int j = 0; j < icon.height(); ++j)
        for (int i = 0; i < icon.width(); ++i) {
            const QRgb want = icon.pixel(i, j);
            if (qAlpha(want) != 255) continue;
            ++opaque;
            const QRgb got = shot.pixel(x + i, y + j);
            if (std::abs(qRed(want) - qRed(got)) <= 24 &&
                std::abs(qGreen(want) - qGreen(got)) <= 24 &&
                std::abs(qBlue(want) - qBlue(got)) <= 24)
                ++same;
        }
    return opaque > 0 && same * 10 >= opaque * 9;
}

// The icons of the tool buttons found in shot, searching each button's column of a window whose
// top-left corner is at (left, top).
std::set<std::string> iconsShown(const QImage& shot, const std::vector<QImage>& icons, int left,
                                 int top) {
    std::set<std::string> shown;
    for (std::size_t k = 0; k < icons.size(); ++k) {
        const int x0 = left + firstButtonX + int(k) * buttonStep;
        for (int y = top; y < top + 160 && !shown.count(toolIcons[k]); ++y)
            for (int x = x0; x <= x0 + buttonStep - iconSize; ++x)
                if (iconAt(shot, icons[k], x, y)) {
                    shown.insert(toolIcons[k]);
                    break;
                }
    }
    return shown;
}


void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning) return;
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
    }
}

} // namespace

TEST(PackageRoot, InstalledWithOnlyItsDependenciesItDrawsItsToolBar) {
    if (::geteuid() != 0) GTEST_SKIP() << "building a root and chrooting into it needs root";
    if (!pixmoor::test::haveProgram("debootstrap"))
        GTEST_SKIP() << "debootstrap is not installed (scripts/deps.sh test)";
    for (const char* tool : {"dpkg-shlibdeps", "unshare", "chroot", "wget", "Xvfb", "xdotool",
                             "convert"})
        ASSERT_TRUE(pixmoor::test::haveProgram(tool)) << tool << " is needed (scripts/deps.sh)";
    const std::vector<Source> sources = debianSources();
    if (sources.empty()) GTEST_SKIP() << "apt has no mirror of this Debian release";

    const fs::path cache = PIXMOOR_PACKAGE_ROOT_CACHE;
    if (!fs::is_directory(cache / "root")) {
        if (!mirrorAnswers(sources[0])) GTEST_SKIP() << "the mirror " << sources[0].uri
                                                     << " does not answer";
        const std::string failure = buildRoot(cache, sources);
        ASSERT_EQ(failure, "");
    }
    fs::create_directories(cache / "debs/partial");

    // The package, built as the README says.
    pixmoor::test::TempDir work;
    const auto built = capture("'" PIXMOOR_CPACK "' --config '" PIXMOOR_BUILD_DIR
                               "/CPackConfig.cmake' -G DEB -B " + shellQuoted(work.file("out")));
    ASSERT_EQ(built.status, 0) << built.output;
    std::string deb;
    for (const auto& e : fs::directory_iterator(work.file("out")))
        if (e.path().extension() == ".deb") deb = e.path().string();
    ASSERT_FALSE(deb.empty()) << built.output;

    // apt-get installs it with what it depends on, nothing it merely recommends.
    const fs::path merged = work.path() / "merged";
    for (const char* dir : {"upper", "overlay", "merged"}) fs::create_directories(work.path() / dir);
    const std::string mounts = overlayMounts(cache, work.path(), merged);
    const auto installed = capture(inNamespace(
        merged, mounts,
        "cp /etc/resolv.conf " + shellQuoted((merged / "etc/resolv.conf").string()) + "\ncp " +
            shellQuoted(deb) + " " + shellQuoted((merged / "tmp/pixmoor.deb").string()) + "\n" +
            chroot(merged, "apt-get install -y -q --no-install-recommends " + unsafeIo +
                           " /tmp/pixmoor.deb")));
    if (installed.status != 0 && !mirrorAnswers(sources[0]))
        GTEST_SKIP() << "the mirror " << sources[0].uri << " does not answer";
    ASSERT_EQ(installed.status, 0) << installed.output;
    EXPECT_TRUE(fs::is_regular_file(work.path() / "upper/usr/share/doc/pixmoor/copyright"))
        << "the package has no copyright file";

    // An X server of the test's own; the program in the root reaches it through its abstract
    // socket, which a mount namespace does not hide.
    const std::string fbdir = work.file("fb");
    fs::create_directories(fbdir);
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp",
                        "-fbdir", QString::fromStdString(fbdir)});
    ASSERT_TRUE(xvfb.waitForStarted(10000));
    QElapsedTimer clock;
    clock.start();
    while (!xvfb.canReadLine() && xvfb.state() == QProcess::Running && clock.elapsed() < 60000)
        xvfb.waitForReadyRead(1000);
    const QString display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();
    ASSERT_NE(display, ":") << "Xvfb did not start: " << xvfb.readAllStandardError().toStdString();

    QProcess program;
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.setStandardOutputFile(QString::fromStdString(work.file("program.log")));
    const std::string start =
        inNamespace(merged, mounts,
                    "mkdir -p -m 700 " + shellQuoted((merged / "tmp/runtime").string()) + "\nexec " +
                        chroot(merged, "HOME=/root XDG_RUNTIME_DIR=/tmp/runtime DISPLAY=" +
                                           display.toStdString() +
                                           " QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 "
                                           "/usr/bin/pixmoor"));
    program.start("sh", {"-c", QString::fromStdString("exec " + start)});
    ASSERT_TRUE(program.waitForStarted(10000));

    std::vector<QImage> icons;
    for (const char* name : toolIcons) {
        icons.push_back(QIcon(QString(PIXMOOR_SOURCE_DIR "/resources/icons/") + name + ".svg")
                            .pixmap(iconSize, iconSize)
                            .toImage()
                            .convertToFormat(QImage::Format_ARGB32));
        ASSERT_FALSE(icons.back().isNull()) << name << ".svg: this machine renders no SVG";
    }

    const QString window =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "^Pixmoor$"}, 120000, display)
            .section('\n', 0, 0);
    std::set<std::string> shown;
    const std::string shotFile = work.file("screen.png");
    if (!window.isEmpty()) {
        const QString geometry = xdotool({"getwindowgeometry", "--shell", window}, 20000, display);
        int left = 0, top = 0;
        for (const QString& line : geometry.split('\n')) {
            if (line.startsWith("X=")) left = line.mid(2).toInt();
            if (line.startsWith("Y=")) top = line.mid(2).toInt();
        }
        // The window may be mapped before it is painted: look again until every icon shows or
        // the window has long been painted.
        clock.restart();
        while (shown.size() < icons.size() && clock.elapsed() < 60000) {
            const QImage shot = screenshot(fbdir, shotFile);
            if (!shot.isNull()) shown = iconsShown(shot, icons, left, top);
        }
    }
    stop(program);
    stop(xvfb);
    const std::string log = pixmoor::test::readText(work.file("program.log"));
    ASSERT_FALSE(window.isEmpty()) << "the installed program shows no main window:\n" << log;
    std::string blank;
    for (const char* name : toolIcons)
        if (!shown.count(name)) blank += std::string(" ") + name;
    EXPECT_EQ(blank, "") << "tool buttons without their icon\n" << log;
    if (HasFailure() && fs::exists(shotFile)) {
        const std::string kept = (cache / "last-failure.png").string();
        fs::copy_file(shotFile, kept, fs::copy_options::overwrite_existing);
        ADD_FAILURE() << "the screen is kept in " << kept;
    }
}
