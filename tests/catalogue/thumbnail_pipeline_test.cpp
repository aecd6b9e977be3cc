// Tests of the thumbnail pipeline on real files made by ImageMagick: the fast thumbnails against
// the image component's own load, the cases that must fall back to the component, each file's
// own thumbnail in its place, the default pump and cancelling. The workers' order, bounds and
// watch on reads are the prefetcher's, tested with it.
#include "catalogue/thumbnail_pipeline.h"
#include "catalogue/thumbnails.h"
#include "imaging/TMultiP.h"
#include "imaging/codec/errors.h"
#include "tests/support/image_compare.h"
#include "tests/support/test_dirs.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

using pixmoor::makeThumbnail;
using pixmoor::ThumbnailPipeline;
using pixmoor::ThumbnailRequest;
using pixmoor::test::TempDir;

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

// convert <args> DIR/name
void magick(const TempDir& dir, const std::string& args, const std::string& name) {
    ASSERT_EQ(pixmoor::test::run("convert " + args + " " + quoted(dir.file(name)) + " 2>/dev/null"),
              0)
        << args << " " << name;
}

QString qfile(const TempDir& dir, const std::string& name) {
    return QString::fromStdString(dir.file(name));
}

// The thumbnail the catalogue makes the ordinary way: the image component loads the file, the
// picture is stretched smoothly.
QImage componentThumbnail(const QString& path, QSize size,
                          pixmoor::TLoadResolution res = pixmoor::lColorTrue) {
    pixmoor::TPMultiImage component;
    component.setImageReadRes(res);
    component.setImageName(path);
    return pixmoor::drawThumbnail(component.Picture(), size);
}

// One set of image files of every kind the pipeline reads, made once for all tests.
class PipelineFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        const TempDir& d = *dir_;
        const std::string photo =
            "-size 800x600 plasma:red-blue -blur 0x1 -attenuate 0.4 +noise Gaussian";
        magick(d, photo + " -sampling-factor 2x2 -quality 90", "photo.jpg");
        magick(d, photo + " -interlace Plane -quality 85", "progressive.jpeg");
        magick(d, photo + " -colorspace Gray -quality 90", "gray.jpg");
        magick(d, photo + " -colorspace CMYK -quality 90", "cmyk.jpg");
        magick(d, "-size 1200x900 gradient:yellow-navy -quality 90", "big.jpg");
        // Progressive files large enough for 1/8 scale, where only their DC scans are decoded:
        // 4:2:0, gray, 4:2:2, and 4:4:4 with restart markers (written by cjpeg).
        const std::string large =
            "-size 1600x1200 plasma:orange-teal -attenuate 0.4 +noise Gaussian";
        magick(d, large + " -interlace Plane -sampling-factor 2x2 -quality 90", "prog-420.jpg");
        magick(d, large + " -colorspace Gray -interlace Plane -quality 90", "prog-gray.jpg");
        magick(d, large + " -interlace Plane -sampling-factor 2x1 -quality 90", "prog-422.jpg");
        magick(d, large, "large.ppm");
        ASSERT_EQ(pixmoor::test::run("cjpeg -progressive -restart 2 -sample 1x1 -quality 85 " +
                                     quoted(d.file("large.ppm")) + " > " +
                                     quoted(d.file("prog-444-restart.jpg"))),
                  0);
        magick(d, photo, "photo.png");
        magick(d, photo + " -alpha set -channel A -evaluate set 50% +channel", "alpha.png");
        magick(d, "-size 640x480 radial-gradient:white-black -depth 16", "deep.png");
        magick(d, photo + " -interlace PNG", "interlaced.png");
        magick(d, photo + " -colors 200 -type Palette", "palette.png");
        magick(d, "-size 200x100 gradient:green-orange", "wide.bmp");
        magick(d, photo, "photo.bmp");
        magick(d, photo + " -resize 60x45!", "small.bmp"); // enlarged, from B, G, R rows
        magick(d, photo + " -colors 128", "photo.gif");
        magick(d, photo + " -compress LZW", "photo.tiff");
        magick(d, photo, "photo.pcx");
        magick(d, "-size 320x240 xc:white", "white.png");
        // Damaged and misnamed files.
        QFile::copy(qfile(d, "photo.jpg"), qfile(d, "truncated.jpg"));
        QFile::resize(qfile(d, "truncated.jpg"), QFile(qfile(d, "photo.jpg")).size() / 2);
        QFile::copy(qfile(d, "prog-420.jpg"), qfile(d, "truncated-prog.jpg"));
        QFile::resize(qfile(d, "truncated-prog.jpg"),
                      QFile(qfile(d, "prog-420.jpg")).size() * 3 / 5);
        QFile::copy(qfile(d, "photo.png"), qfile(d, "truncated.png"));
        QFile::resize(qfile(d, "truncated.png"), QFile(qfile(d, "photo.png")).size() / 3);
        QFile text(qfile(d, "text.jpg"));
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("not an image at all\n");
        text.close();
        QFile::copy(qfile(d, "photo.png"), qfile(d, "png-named.bmp"));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static QString path(const char* name) { return qfile(*dir_, name); }
    static const TempDir& dir() { return *dir_; }

    static TempDir* dir_;
};
TempDir* PipelineFiles::dir_ = nullptr;

TEST_F(PipelineFiles, FastThumbnailsLookLikeTheComponentPath) {
    for (const char* name :
         {"photo.jpg", "progressive.jpeg", "gray.jpg", "cmyk.jpg", "big.jpg", "prog-420.jpg",
          "prog-gray.jpg", "prog-422.jpg", "prog-444-restart.jpg", "photo.png", "alpha.png",
          "deep.png", "interlaced.png", "palette.png", "wide.bmp", "photo.bmp", "small.bmp",
          "photo.gif",
          "photo.tiff", "photo.pcx"}) {
        for (const QSize size : {QSize(70, 70), QSize(50, 50), QSize(150, 20)}) {
            const std::optional<QImage> fast = makeThumbnail(path(name), ThumbnailRequest{size});
            ASSERT_TRUE(fast.has_value()) << name;
            ASSERT_EQ(fast->size(), size) << name;
            EXPECT_EQ(fast->format(), QImage::Format_RGB32);
            const QImage reference = componentThumbnail(path(name), size);
            EXPECT_GT(pixmoor::test::psnr(*fast, reference), 34.0)
                << name << " at " << size.width() << "x" << size.height();
        }
    }
}

TEST_F(PipelineFiles, WhiteStaysPureWhiteAndAlphaGoesOverWhite) {
    const std::optional<QImage> white =
        makeThumbnail(path("white.png"), ThumbnailRequest{{70, 70}});
    ASSERT_TRUE(white);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 70; ++x) ASSERT_EQ(white->pixel(x, y), 0xFFFFFFFFu);
    // Half-transparent photo: every pixel lies halfway to white or lighter.
    const std::optional<QImage> alpha =
        makeThumbnail(path("alpha.png"), ThumbnailRequest{{20, 20}});
    ASSERT_TRUE(alpha);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_GE(qGray(alpha->pixel(x, y)), 120);
}

TEST_F(PipelineFiles, ReducedDepthGivesTheComponentsColours) {
    // Black and white without dithering: every decoded pixel is black or white, so every
    // thumbnail pixel is a gray, close to what the component's own 1-bit load shows.
    ThumbnailRequest request{{70, 70}};
    request.bits = 1;
    request.dither = false;
    for (const char* name : {"photo.jpg", "photo.png", "photo.bmp", "photo.gif"}) {
        const std::optional<QImage> fast = makeThumbnail(path(name), request);
        ASSERT_TRUE(fast) << name;
        for (int y = 0; y < 70; ++y)
            for (int x = 0; x < 70; ++x) {
                const QRgb p = fast->pixel(x, y);
                ASSERT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << name;
            }
        pixmoor::TPMultiImage component;
        component.setImageReadRes(pixmoor::lMonoChrome);
        component.setImageDither(false);
        component.setImageName(path(name));
        EXPECT_GT(pixmoor::test::psnr(*fast, pixmoor::drawThumbnail(component.Picture(), {70, 70})),
                  20.0)
            << name;
    }
}

TEST_F(PipelineFiles, FilesTheFastPathCannotReadGiveNothing) {
    const ThumbnailRequest request{{70, 70}};
    // Truncated and damaged files go to the component, which reports them.
    EXPECT_FALSE(makeThumbnail(path("truncated.jpg"), request));
    EXPECT_FALSE(makeThumbnail(path("truncated-prog.jpg"), request));
    EXPECT_FALSE(makeThumbnail(path("truncated.png"), request));
    EXPECT_FALSE(makeThumbnail(path("text.jpg"), request));
    // The decoder is picked by the name, as the component picks it.
    EXPECT_FALSE(makeThumbnail(path("png-named.bmp"), request));
    EXPECT_FALSE(makeThumbnail(path("missing.jpg"), request));
    EXPECT_FALSE(makeThumbnail(path("photo.jpg"), ThumbnailRequest{{0, 70}}));
    EXPECT_FALSE(makeThumbnail(QString::fromStdString(dir().path().string()), request));
    // A cancelled request gives nothing.
    const std::atomic<bool> cancelled{true};
    EXPECT_FALSE(makeThumbnail(path("photo.jpg"), request, &cancelled));
    EXPECT_FALSE(makeThumbnail(path("photo.bmp"), request, &cancelled));
}

TEST_F(PipelineFiles, DamagedProgressiveFilesNeverCrashAndTruncatedOnesGiveNothing) {
    QFile source(path("prog-420.jpg"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray original = source.readAll();
    TempDir damaged;
    const ThumbnailRequest request{{70, 70}};
    // Cut anywhere: the reader reports a truncated file, so the fast path must give nothing.
    for (int cut = 2; cut < original.size(); cut += original.size() / 23 + 1) {
        const QString name = qfile(damaged, "cut.jpg");
        QFile out(name);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(original.left(cut));
        out.close();
        EXPECT_FALSE(makeThumbnail(name, request)) << "cut at " << cut;
    }
    // Bytes overwritten in the headers and the scans: any answer will do, but no crash, and a
    // thumbnail, when there is one, has the asked size.
    for (int at = 2; at < original.size(); at += original.size() / 47 + 1) {
        for (const char junk : {'\x00', '\xFF', '\x7F'}) {
            QByteArray bytes = original;
            bytes[at] = junk;
            if (at + 1 < bytes.size()) bytes[at + 1] = char(~bytes[at + 1]);
            const QString name = qfile(damaged, "junk.jpg");
            QFile out(name);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(bytes);
            out.close();
            const std::optional<QImage> thumb = makeThumbnail(name, request);
            if (thumb) {
                EXPECT_EQ(thumb->size(), QSize(70, 70));
            }
        }
    }
}

// A directory of small BMPs, each of its own flat colour, listed out of alphabetical order, with
// a damaged one in the middle.
class PipelineOrder : public ::testing::Test {
protected:
    void SetUp() override {
        for (int k = 0; k < kFiles; ++k) {
            const QString name =
                QStringLiteral("f%1.bmp").arg((k * 7) % kFiles, 2, 10, QLatin1Char('0'));
            names << name;
            QImage image(64 + k, 48, QImage::Format_RGB32);
            image.fill(colour(k));
            ASSERT_TRUE(image.save(qfile(dir, name.toStdString()), "BMP"));
        }
        QFile::resize(qfile(dir, names[kBroken].toStdString()), 20);
    }
    static QRgb colour(int k) { return qRgb(k * 6, 255 - k * 6, (k * 40) % 256); }
    QString directory() const { return QString::fromStdString(dir.path().string()); }

    static constexpr int kFiles = 40;
    static constexpr int kBroken = 23;
    TempDir dir;
    QStringList names;
};

TEST_F(PipelineOrder, ThumbnailsComeInFileNamesOrderAndFailuresStayInTheirPlace) {
    // The working directory is elsewhere: the workers must use the absolute directory.
    const QString old = QDir::currentPath();
    QDir::setCurrent(QDir::rootPath());
    {
        ThumbnailPipeline pipeline(directory(), names, QStringLiteral("bmp"), {{10, 10}}, 2, 4);
        EXPECT_EQ(pipeline.count(), kFiles);
        EXPECT_EQ(pipeline.workerCount(), 2);
        for (int k = 0; k < kFiles; ++k) {
            const std::optional<QImage> thumb = pipeline.take(k);
            if (k == kBroken) {
                EXPECT_FALSE(thumb);
                continue;
            }
            ASSERT_TRUE(thumb) << k;
            EXPECT_EQ(thumb->size(), QSize(10, 10));
            EXPECT_EQ(thumb->pixel(5, 5), colour(k)) << k;
        }
        // Taken, out of range: nothing.
        EXPECT_FALSE(pipeline.take(0));
        EXPECT_FALSE(pipeline.take(kFiles));
        EXPECT_FALSE(pipeline.take(-1));
    }
    QDir::setCurrent(old);
}

TEST_F(PipelineOrder, OtherTypesAreLeftToTheCaller) {
    for (const char* type : {"ico", "wmf", "txt"}) {
        ThumbnailPipeline other(directory(), names, QString::fromLatin1(type), {{8, 8}});
        EXPECT_FALSE(ThumbnailPipeline::handles(QString::fromLatin1(type)));
        EXPECT_EQ(other.workerCount(), 0);
        EXPECT_FALSE(other.take(0));
    }
    ThumbnailPipeline empty(directory(), {}, QStringLiteral("bmp"), {{8, 8}});
    EXPECT_FALSE(empty.take(0));
}

TEST_F(PipelineFiles, TheDefaultPumpProcessesEventsAndCancelEndsTheBuild) {
    // Large noisy JPEGs, slow enough that take() has to wait for each.
    TempDir big;
    magick(big, "-size 3000x2000 plasma:green-purple -attenuate 0.6 +noise Gaussian -quality 95",
           "b0.jpg");
    QStringList names;
    for (int k = 0; k < 12; ++k) {
        const QString name = QStringLiteral("b%1.jpg").arg(k);
        if (k > 0) {
            ASSERT_TRUE(QFile::copy(qfile(big, "b0.jpg"), qfile(big, name.toStdString())));
        }
        names << name;
    }
    const QString bigDir = QString::fromStdString(big.path().string());
    {
        ThumbnailPipeline pipeline(bigDir, names, QStringLiteral("jpg"), {{70, 70}}, 1, 2);
        ASSERT_TRUE(pipeline.take(0));
        pipeline.cancel();
        EXPECT_TRUE(pipeline.cancelled());
        EXPECT_FALSE(pipeline.take(1));
    }
    {
        // Destroyed mid-build with files still decoding: the destructor cancels and joins.
        ThumbnailPipeline pipeline(bigDir, names, QStringLiteral("jpg"), {{70, 70}});
        ASSERT_TRUE(pipeline.take(0));
    }
    {
        // The default pump processes events (not input) while take() waits.
        ThumbnailPipeline pipeline(bigDir, names, QStringLiteral("jpg"), {{70, 70}}, 1, 1);
        bool timerFired = false;
        QTimer::singleShot(0, [&] { timerFired = true; });
        ASSERT_TRUE(pipeline.take(0));
        ASSERT_TRUE(pipeline.take(1));
        EXPECT_TRUE(timerFired);
    }
}

} // namespace
