// The sheet runner below the window: an error outside the per-item guard aborts the job, and
// the fast decode of camera-sized JPEGs prints cells indistinguishable from full decoding.
#include "tests/imaging/imaging_test_util.h"
#include "tests/printing/printing_fixture.h"

#include "imaging/file_types.h"
#include "platform/printer.h"
#include "printing/sheet.h"
#include "tests/support/image_compare.h"

#include <QFile>
#include <cmath>
#include <stdexcept>

namespace pixmoor::test {
namespace {

using SheetRunner = PrintingTest;

SheetRun runOf(const QString& directory, const QStringList& names) {
    SheetRun run;
    run.directory = directory;
    run.captions = names;
    run.thumb = QSize(70, 70);
    run.loader = &Form3->PMultiImage1->loader();
    run.pictureControl = Form3->Image1;
    return run;
}

TEST_F(SheetRunner, AnErrorOutsideTheItemGuardAbortsThePrintJob) {
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) writeImage(path(name), 8, 8, Qt::blue);
    SheetRun run = runOf(base, {"a.bmp", "b.bmp", "c.bmp"});
    int items = 0;
    run.beforeItem = [&items] {
        if (++items == 2) throw std::runtime_error("outside");
    };
    EXPECT_THROW(printThumbnailSheet(processPrinter(), run), std::runtime_error);
    EXPECT_EQ(items, 2);
    // No document came out of the aborted job.
    EXPECT_TRUE(pages().empty());

    // The printer is usable again for the next run.
    run.beforeItem = {};
    std::vector<int> progress;
    run.progress = [&progress](int p) { progress.push_back(p); };
    printThumbnailSheet(processPrinter(), run);
    EXPECT_EQ(pages().size(), 1u);
    EXPECT_EQ(progress, (std::vector<int>{0, 33, 67}));
}

TEST_F(SheetRunner, FastDecodingOfLargeJpegsPrintsTheSameCellsAsFullDecoding) {
    // Camera-like pictures: fractal detail at every scale, one with sensor noise.
    magick("-seed 7 -size 3000x2000 plasma:fractal -quality 90 " + path("p1.jpg").toStdString());
    magick("-seed 9 -size 2000x3000 plasma:red-blue -blur 0x1 -quality 92 " +
           path("p2.jpg").toStdString());
    magick("-seed 4 -size 4000x3000 plasma:fractal -attenuate 0.5 +noise Gaussian -quality 92 " +
           path("p3.jpg").toStdString());
    const QStringList names{"p1.jpg", "p2.jpg", "p3.jpg"};
    SheetRun run = runOf(base, names);
    run.type = catalogueTypeNamed("jpg");

    run.fullDecode = true;
    printThumbnailSheet(processPrinter(), run);
    const std::vector<QImage> full = pages();
    run.fullDecode = false;
    printThumbnailSheet(processPrinter(), run);
    const std::vector<QImage> fast = pages();
    ASSERT_EQ(full.size(), 1u);
    ASSERT_EQ(fast.size(), 1u);
    for (int i = 0; i < 3; ++i) {
        const QRect cell = QRect(i * 320, 0, 210, 210).translated(marginPx, marginPx);
        const double value = psnr(full[0].copy(cell), fast[0].copy(cell));
        EXPECT_GE(value, 40.0) << names[i].toStdString();
        RecordProperty(("psnr_" + std::to_string(i)).c_str(), std::to_string(value));
    }
}

} // namespace
} // namespace pixmoor::test
