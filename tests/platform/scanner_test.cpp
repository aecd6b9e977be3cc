// Scanning over SANE: the frame assembly on made-up frames, and acquire and select source through
// the real "test" driver of sane-backends in a private configuration, compared with what
// scanimage (SANE's own front end) makes of the same settings.
#include "imaging/codec/errors.h"
#include "platform/sane.h"
#include "platform/scan_dialogs.h"
#include "platform/scanner.h"
#include "tests/support/sane_test.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

SANE_Parameters frame(SANE_Frame format, int width, int lines, int depth, bool last = true,
                      int pad = 0) {
    SANE_Parameters p{};
    p.format = format;
    p.last_frame = last ? SANE_TRUE : SANE_FALSE;
    p.pixels_per_line = width;
    p.lines = lines;
    p.depth = depth;
    const int channels = format == SANE_FRAME_RGB ? 3 : 1;
    p.bytes_per_line = (width * channels * depth + 7) / 8 + pad;
    return p;
}

int add(sane::ImageAssembler& a, const std::vector<std::uint8_t>& bytes) {
    return a.addData(bytes.data(), bytes.size());
}

// The raster as an RGB image, for comparing with another picture.
QImage toImage(const codec::Raster& r) {
    QImage image(r.width, r.height, QImage::Format_RGB888);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const codec::Rgb c = r.at(x, y);
            image.setPixelColor(x, y, QColor(c.r, c.g, c.b));
        }
    return image;
}

// Largest difference of any channel of any pixel; INT_MAX when the sizes differ.
int maxDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return INT_MAX;
    int worst = 0;
    const QImage ca = a.convertToFormat(QImage::Format_RGB888);
    const QImage cb = b.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = ca.pixelColor(x, y), q = cb.pixelColor(x, y);
            worst = std::max({worst, std::abs(p.red() - q.red()), std::abs(p.green() - q.green()),
                              std::abs(p.blue() - q.blue())});
        }
    return worst;
}

} // namespace

// ---- frames into a raster --------------------------------------------------------------------

TEST(ImageAssembler, SixteenBitGreyKeepsTheHighByteOfNativeSamples) {
    sane::ImageAssembler a;
    ASSERT_EQ(a.beginFrame(frame(SANE_FRAME_GRAY, 2, 1, 16)), codec::Ok);
    std::vector<std::uint8_t> line(4);
    const std::uint16_t samples[2] = {0x12AB, 0xFF01};
    std::memcpy(line.data(), samples, 4); // SANE sends 16-bit samples in the machine's order
    ASSERT_EQ(add(a, line), codec::Ok);
    a.endFrame();
    EXPECT_FALSE(a.needsMoreFrames());
    codec::Raster r;
    ASSERT_EQ(a.take(r), codec::Ok);
    EXPECT_EQ(r.bits, 8);
    EXPECT_EQ(r.at(0, 0), (codec::Rgb{0x12, 0x12, 0x12}));
    EXPECT_EQ(r.at(1, 0), (codec::Rgb{0xFF, 0xFF, 0xFF}));
}

TEST(ImageAssembler, ThreePassPlanesInAnyOrderMakeOneColourImage) {
    sane::ImageAssembler a;
    // Green, blue, red: two pixels, two lines, data split across calls and across lines.
    ASSERT_EQ(a.beginFrame(frame(SANE_FRAME_GREEN, 2, 2, 8, false)), codec::Ok);
    EXPECT_EQ(a.expectedBytes(), 12);
    ASSERT_EQ(add(a, {10, 11, 12}), codec::Ok);
    ASSERT_EQ(add(a, {13}), codec::Ok);
    a.endFrame();
    EXPECT_TRUE(a.needsMoreFrames());
    ASSERT_EQ(a.beginFrame(frame(SANE_FRAME_BLUE, 2, 2, 8, false)), codec::Ok);
    ASSERT_EQ(add(a, {20, 21, 22, 23}), codec::Ok);
    a.endFrame();
    ASSERT_EQ(a.beginFrame(frame(SANE_FRAME_RED, 2, 2, 16, true)), codec::Ok);
    std::vector<std::uint8_t> red(8);
    const std::uint16_t reds[4] = {0x3000, 0x3100, 0x3200, 0x3300};
    std::memcpy(red.data(), reds, 8);
    ASSERT_EQ(add(a, red), codec::Ok);
    a.endFrame();
    EXPECT_FALSE(a.needsMoreFrames());
    codec::Raster r;
    ASSERT_EQ(a.take(r), codec::Ok);
    EXPECT_EQ(r.bits, 24);
    EXPECT_EQ(r.at(0, 0), (codec::Rgb{0x30, 10, 20}));
    EXPECT_EQ(r.at(1, 1), (codec::Rgb{0x33, 13, 23}));
}

TEST(ImageAssembler, LineArtAndOneBitColourAndPaddedLines) {
    sane::ImageAssembler grey;
    // 10 pixels, 1 bit: 2 bytes, padded to 3. A set bit is black.
    ASSERT_EQ(grey.beginFrame(frame(SANE_FRAME_GRAY, 10, 1, 1, true, 1)), codec::Ok);
    ASSERT_EQ(add(grey, {0b10000000, 0b01000000, 0xEE}), codec::Ok);
    codec::Raster r;
    ASSERT_EQ(grey.take(r), codec::Ok);
    EXPECT_EQ(r.bits, 1);
    EXPECT_EQ(r.at(0, 0), (codec::Rgb{0, 0, 0}));
    EXPECT_EQ(r.at(1, 0), (codec::Rgb{255, 255, 255}));
    EXPECT_EQ(r.at(9, 0), (codec::Rgb{0, 0, 0}));

    sane::ImageAssembler colour; // R, G, B bits of each pixel in turn; a set bit is dark
    ASSERT_EQ(colour.beginFrame(frame(SANE_FRAME_RGB, 2, 1, 1)), codec::Ok);
    ASSERT_EQ(add(colour, {0b10001100}), codec::Ok);
    ASSERT_EQ(colour.take(r), codec::Ok);
    EXPECT_EQ(r.at(0, 0), (codec::Rgb{0, 255, 255}));
    EXPECT_EQ(r.at(1, 0), (codec::Rgb{255, 0, 0}));
}

TEST(ImageAssembler, UnknownLengthGrowsAndAShortScanKeepsWhatCame) {
    sane::ImageAssembler hand;
    ASSERT_EQ(hand.beginFrame(frame(SANE_FRAME_GRAY, 3, -1, 8)), codec::Ok);
    EXPECT_EQ(hand.expectedBytes(), 0);
    for (int y = 0; y < 1000; ++y) ASSERT_EQ(add(hand, {std::uint8_t(y), 1, 2}), codec::Ok);
    ASSERT_EQ(add(hand, {7}), codec::Ok); // a part line at the end is dropped
    hand.endFrame();
    codec::Raster r;
    ASSERT_EQ(hand.take(r), codec::Ok);
    EXPECT_EQ(r.height, 1000);
    EXPECT_EQ(r.at(0, 999).r, std::uint8_t(999));

    sane::ImageAssembler shortScan;
    ASSERT_EQ(shortScan.beginFrame(frame(SANE_FRAME_RGB, 1, 50, 8)), codec::Ok);
    ASSERT_EQ(add(shortScan, {1, 2, 3, 4, 5, 6}), codec::Ok);
    ASSERT_EQ(shortScan.take(r), codec::Ok);
    EXPECT_EQ(r.height, 2);
    EXPECT_EQ(r.at(0, 1), (codec::Rgb{4, 5, 6}));

    sane::ImageAssembler nothing;
    ASSERT_EQ(nothing.beginFrame(frame(SANE_FRAME_RGB, 1, 50, 8)), codec::Ok);
    EXPECT_EQ(nothing.take(r), codec::Corrupt);
}

TEST(ImageAssembler, RefusesFramesItCannotTakeIn) {
    sane::ImageAssembler a;
    EXPECT_EQ(a.beginFrame(frame(SANE_FRAME_GRAY, 10, 10, 4)), codec::Unsupported);
    SANE_Parameters tooShort = frame(SANE_FRAME_RGB, 10, 10, 8);
    tooShort.bytes_per_line = 29;
    EXPECT_EQ(a.beginFrame(tooShort), codec::Corrupt);
    EXPECT_EQ(a.beginFrame(frame(SANE_FRAME_GRAY, 0, 10, 8)), codec::Corrupt);
    EXPECT_EQ(a.beginFrame(frame(SANE_FRAME_GRAY, 1 << 21, 10, 8)), codec::TooLarge);
    EXPECT_EQ(a.beginFrame(frame(SANE_FRAME_GRAY, 1 << 20, 1 << 20, 8)), codec::TooLarge);
    // A second frame must be another plane of a three-pass scan, as wide as the first.
    ASSERT_EQ(a.beginFrame(frame(SANE_FRAME_RED, 4, 4, 8, false)), codec::Ok);
    EXPECT_EQ(a.beginFrame(frame(SANE_FRAME_GREEN, 5, 4, 8, false)), codec::Corrupt);
    EXPECT_EQ(a.beginFrame(frame(SANE_FRAME_GRAY, 4, 4, 8)), codec::Corrupt);
    std::vector<std::uint8_t> data(16, 9);
    sane::ImageAssembler b;
    EXPECT_EQ(b.addData(data.data(), data.size()), codec::Corrupt); // no frame begun
}

// ---- the test driver -------------------------------------------------------------------------

class SaneScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveProgram("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is missing";
    }

    // Acquires with the options dialog answered by `settings`.
    int scan(const std::vector<OptionSetting>& settings, codec::Raster& out, int bits = 24,
             ScanReport* report = nullptr) {
        ScanDialogAnswers answers(settings);
        const int rc = acquireImage(nullptr, bits, 0, 0, out, report);
        EXPECT_EQ(answers.optionDialogs, 1);
        return rc;
    }

    PrivateSane sane_;
};

const std::vector<OptionSetting> kColour100 = {
    {"mode", "Color"}, {"resolution", "100"}, {"test-picture", "Color pattern"}};

TEST_F(SaneScan, ColourGreyAndLineArtAtTwoResolutionsMatchScanimage) {
    struct Case {
        const char* mode;
        int depth;
        int dpi;
        int bits; // of the raster
    };
    for (const Case c : {Case{"Color", 8, 100, 24}, Case{"Color", 8, 50, 24},
                         Case{"Gray", 8, 100, 8}, Case{"Gray", 8, 50, 8}, Case{"Gray", 1, 75, 1}}) {
        SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.depth) + " bit " +
                     std::to_string(c.dpi) + " dpi");
        const QString depth = QString::number(c.depth);
        const QString dpi = QString::number(c.dpi);
        codec::Raster r;
        ScanReport report;
        ASSERT_EQ(scan({{"mode", c.mode},
                        {"depth", depth},
                        {"resolution", dpi},
                        {"test-picture", "Color pattern"}},
                       r, c.bits, &report),
                  codec::Ok)
            << report.detail;
        EXPECT_EQ(r.bits, c.bits);
        EXPECT_DOUBLE_EQ(report.dpiX, c.dpi);
        const QImage peer = scanimage(std::string("-d test:0 --mode ") + c.mode + " --depth " +
                                      std::to_string(c.depth) + " --resolution " +
                                      std::to_string(c.dpi) + " --test-picture 'Color pattern'");
        ASSERT_FALSE(peer.isNull());
        EXPECT_EQ(QSize(r.width, r.height), peer.size());
        EXPECT_EQ(maxDifference(toImage(r), peer), 0);
    }
    // 80 x 100 mm at 100 dpi.
    codec::Raster r;
    ASSERT_EQ(scan(kColour100, r), codec::Ok);
    EXPECT_EQ(r.width, 314);
    EXPECT_EQ(r.height, 393);
}

TEST_F(SaneScan, SixteenBitsOneBitColourThreePassAndHandScanner) {
    // The driver draws another pattern for each depth and for three passes: each is compared
    // with scanimage's picture of the same settings.
    codec::Raster r;
    ASSERT_EQ(scan({{"mode", "Color"},
                    {"depth", "16"},
                    {"resolution", "100"},
                    {"test-picture", "Color pattern"}},
                   r),
              codec::Ok);
    // scanimage's 16-bit PNM read back by Qt rounds where we keep the high byte.
    const QImage peer16 = scanimage("-d test:0 --mode Color --depth 16 --resolution 100 "
                                    "--test-picture 'Color pattern'");
    ASSERT_FALSE(peer16.isNull());
    EXPECT_LE(maxDifference(toImage(r), peer16), 1);

    for (const char* order : {"RGB", "BGR"}) {
        // Options not set here keep the last scan's values: the depth is set again.
        ASSERT_EQ(scan({{"mode", "Color"},
                        {"depth", "8"},
                        {"resolution", "100"},
                        {"test-picture", "Color pattern"},
                        {"three-pass", "yes"},
                        {"three-pass-order", order}},
                       r),
                  codec::Ok)
            << order;
        const QImage peer = scanimage(std::string("-d test:0 --mode Color --resolution 100 "
                                                  "--test-picture 'Color pattern' "
                                                  "--three-pass=yes --three-pass-order ") +
                                      order);
        ASSERT_FALSE(peer.isNull());
        EXPECT_EQ(maxDifference(toImage(r), peer), 0) << order;
    }

    // One bit per colour sample (scanimage cannot take it): the black and white grid comes out
    // as in eight bits (a set bit is dark, as in line art).
    codec::Raster eight;
    ASSERT_EQ(
        scan({{"mode", "Color"}, {"depth", "8"}, {"resolution", "100"}, {"test-picture", "Grid"}},
             eight),
        codec::Ok);
    ASSERT_EQ(
        scan({{"mode", "Color"}, {"depth", "1"}, {"resolution", "100"}, {"test-picture", "Grid"}},
             r),
        codec::Ok);
    EXPECT_EQ(maxDifference(toImage(r), toImage(eight)), 0);

    // A hand scanner does not know its length (lines = -1): read until the data ends.
    ASSERT_EQ(scan({{"mode", "Gray"},
                    {"resolution", "50"},
                    {"test-picture", "Grid"},
                    {"hand-scanner", "yes"}},
                   r, 8),
              codec::Ok);
    const QImage peerHand =
        scanimage("-d test:0 --mode Gray --resolution 50 --test-picture Grid --hand-scanner=yes");
    EXPECT_EQ(maxDifference(toImage(r), peerHand), 0);
}

TEST_F(SaneScan, TheAskedDepthAndTheRememberedOptions) {
    codec::Raster r;
    ASSERT_EQ(scan(kColour100, r, 8), codec::Ok);
    EXPECT_EQ(r.bits, 8);
    EXPECT_LE(r.palette.size(), 256u);
    // Without the dialog, the next scan uses what the dialog was left at.
    {
        ScanDialogAnswers answers;
        ASSERT_EQ(acquireImage(nullptr, 24, 0, -1, r), codec::Ok);
        EXPECT_EQ(answers.optionDialogs, 0);
    }
    EXPECT_EQ(r.width, 314);
    EXPECT_EQ(r.bits, 24);
    EXPECT_EQ(acquireImage(nullptr, 3, 0, -1, r), codec::BadDepth);
}

TEST_F(SaneScan, DeviceListAndTheRememberedChoice) {
    ScanDialogAnswers answers({}, true, 1);
    EXPECT_EQ(chosenSource(), "");
    // Before a choice, the first device; its options dialog is titled with its vendor and model.
    codec::Raster r;
    ASSERT_EQ(acquireImage(nullptr, 24, 0, 0, r), codec::Ok);
    EXPECT_EQ(answers.lastTitle, "Scan - Noname frontend-tester");
    ScanReport report;
    ASSERT_EQ(selectSource(nullptr, &report), codec::Ok) << report.detail;
    EXPECT_EQ(answers.lastSources,
              QStringList({"Noname frontend-tester (test:0)", "Noname frontend-tester (test:1)"}));
    EXPECT_EQ(chosenSource(), "test:1");
    // The next scans open the chosen device, titled the same way each time; the list comes up
    // with it selected.
    for (int i = 0; i < 2; ++i) {
        answers.lastTitle.clear();
        ASSERT_EQ(acquireImage(nullptr, 24, 0, 0, r), codec::Ok);
        EXPECT_EQ(answers.lastTitle, "Scan - Noname frontend-tester");
    }
    ASSERT_EQ(selectSource(nullptr), codec::Ok);
    EXPECT_EQ(answers.preselectedRow, 1);

    ScanDialogAnswers dismiss({}, true, -1);
    EXPECT_EQ(selectSource(nullptr), codec::ScanCancelled);
    EXPECT_EQ(chosenSource(), "test:1");
}

TEST_F(SaneScan, TheSourceListsLabelIsItsMnemonic) {
    // "&Sources:" underlines its S (no ampersand shows) and Alt+S takes the keyboard to the list.
    const sane::Session session;
    std::vector<sane::DeviceInfo> devices;
    ASSERT_EQ(session.devices(devices), SANE_STATUS_GOOD);
    ScanSourceDialog dialog(devices, "");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    ok->setFocus();
    ASSERT_TRUE(ok->hasFocus());
    QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(dialog.SourceList->hasFocus());
}

TEST_F(SaneScan, FailuresSayWhy) {
    codec::Raster r;
    ScanReport report;
    // The options dialog closed with Cancel.
    {
        ScanDialogAnswers cancel(kColour100, false);
        EXPECT_EQ(acquireImage(nullptr, 24, 0, 0, r, &report), codec::ScanCancelled);
        EXPECT_TRUE(r.empty());
    }
    // A device that cannot be opened.
    setChosenSource("test:7");
    EXPECT_EQ(acquireImage(nullptr, 24, 0, -1, r, &report), codec::ScanFailed);
    EXPECT_EQ(report.detail, "Invalid argument (test:7)");
    // A device some other user of the library holds.
    setChosenSource("test:0");
    {
        const sane::Session session;
        std::unique_ptr<sane::Device> held;
        ASSERT_EQ(sane::Device::open("test:0", held), SANE_STATUS_GOOD);
        EXPECT_EQ(acquireImage(nullptr, 24, 0, -1, r, &report), codec::ScanFailed);
        EXPECT_EQ(report.detail, "Device busy (test:0)");
    }
}

// The driver reports an error while reading. The test driver ends its reader thread by
// asynchronous cancellation when the scan is cancelled after the error; a thread cancelled inside
// the allocator leaves its lock held, and the process hangs at its next allocation (the
// sanitizer's allocator makes that likely). So the scan runs in a child process that reports and
// leaves at once, watched: a child that hangs is the driver's, and the scan is tried again.
TEST_F(SaneScan, AReadErrorSaysWhy) {
    if (qEnvironmentVariableIsSet("PIXMOOR_SANE_CHILD")) {
        codec::Raster r;
        ScanReport report;
        const int rc = scan(
            {{"mode", "Gray"}, {"resolution", "50"}, {"read-return-value", "SANE_STATUS_JAMMED"}},
            r, 24, &report);
        std::printf("result=%d empty=%d failures=%d detail=%s\n", rc, int(r.empty()),
                    int(HasFailure()), report.detail.c_str());
        std::fflush(stdout);
        std::_Exit(0);
    }
    QString out;
    for (int attempt = 0; attempt < 3 && out.isEmpty(); ++attempt) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PIXMOOR_SANE_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=SaneScan.AReadErrorSaysWhy")});
        ASSERT_TRUE(child.waitForStarted());
        if (!child.waitForFinished(60000)) {
            child.kill();
            child.waitForFinished();
            continue;
        }
        for (const QString& line : QString::fromUtf8(child.readAllStandardOutput()).split('\n'))
            if (line.startsWith(QLatin1String("result="))) out = line;
    }
    EXPECT_EQ(out, QStringLiteral("result=%1 empty=1 failures=0 detail=Document feeder jammed")
                       .arg(codec::ScanFailed));
}

TEST(SaneNoDevice, NoScannerFoundIsReported) {
    PrivateSane none(false);
    ScanDialogAnswers answers;
    codec::Raster r;
    ScanReport report;
    EXPECT_EQ(acquireImage(nullptr, 24, 0, 0, r, &report), codec::NoScanner);
    EXPECT_EQ(report.detail, "No scanner was found");
    EXPECT_EQ(selectSource(nullptr, &report), codec::NoScanner);
    EXPECT_EQ(report.detail, "No scanner was found");
    EXPECT_EQ(answers.optionDialogs + answers.sourceDialogs, 0);
}

TEST_F(SaneScan, CancelStopsAScanWhileTheWindowKeepsWorking) {
    // A slow scan: small reads, each after a delay of the driver.
    ScanDialogAnswers answers({{"mode", "Color"},
                               {"resolution", "300"},
                               {"read-limit", "yes"},
                               {"read-limit-size", "4096"},
                               {"read-delay", "yes"},
                               {"read-delay-duration", "20000"}});
    int ticks = 0;
    int progressSeen = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        auto* dialog = qobject_cast<ScanProgressDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        if (dialog->ProgressBar->value() > 0) ++progressSeen;
        if (ticks >= 10 && dialog->CancelButton->isEnabled()) dialog->CancelButton->click();
    });
    ticker.start(20);
    codec::Raster r;
    ScanReport report;
    EXPECT_EQ(acquireImage(nullptr, 24, 0, 0, r, &report), codec::ScanCancelled);
    EXPECT_EQ(report.detail, "The scan was stopped");
    EXPECT_TRUE(r.empty());
    EXPECT_GE(ticks, 10); // the event loop ran all along
    EXPECT_GT(progressSeen, 0);
    // The device is free again afterwards.
    ticker.stop();
    ScanDialogAnswers again(kColour100);
    EXPECT_EQ(acquireImage(nullptr, 24, 0, 0, r), codec::Ok);
}

TEST_F(SaneScan, TheOptionsDialogShowsTheDriversOptions) {
    const sane::Session session;
    std::unique_ptr<sane::Device> device;
    ASSERT_EQ(sane::Device::open("test:0", device), SANE_STATUS_GOOD);
    ScanOptionsDialog dialog(*device, "Noname frontend-tester");
    EXPECT_EQ(dialog.windowTitle(), "Scan - Noname frontend-tester");
    EXPECT_EQ(dialog.ScanButton->text(), "&Scan");
    EXPECT_EQ(dialog.Pages->tabText(0), "Scan");
    for (const char* name : {"mode", "depth", "resolution", "tl-x", "tl-y", "br-x", "br-y"})
        EXPECT_NE(dialog.control(name), nullptr) << name;
    // Inactive until colour is chosen; then the driver asks for the options to be shown again.
    EXPECT_EQ(dialog.control("three-pass"), nullptr);
    setOptions(dialog, {{"mode", "Color"}});
    EXPECT_NE(dialog.control("three-pass"), nullptr);
    // Driver groups become pages.
    QStringList pages;
    for (int i = 0; i < dialog.Pages->count(); ++i) pages << dialog.Pages->tabText(i);
    EXPECT_TRUE(pages.contains("Special Options")) << pages.join(", ").toStdString();
    // The value shown is the device's.
    setOptions(dialog, {{"br-x", "50"}});
    SANE_Word w = 0;
    ASSERT_EQ(device->getWord(device->findOption("br-x"), w), SANE_STATUS_GOOD);
    EXPECT_DOUBLE_EQ(SANE_UNFIX(w), 50.0);
}
