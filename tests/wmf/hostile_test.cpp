// Hostile metafiles, bitmaps and icons: inputs that once wrote out of bounds, committed
// gigabytes or ran for minutes in the bitmap decoder, the player's object table and the icon
// reader. Each must now end quickly with a warning or a clean error.
#include "imaging/picture.h"
#include "imaging/wmf/device.h"
#include "imaging/wmf/dib.h"
#include "imaging/wmf/metafile.h"
#include "tests/wmf/wmf_builder.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

#include <stdexcept>

using pixmoor::test::WmfBuilder;
using namespace pixmoor::wmf;

namespace {

void put16(QByteArray& b, unsigned v) {
    b += char(v & 0xFF);
    b += char((v >> 8) & 0xFF);
}
void put32(QByteArray& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A 40-byte bitmap header of an 8-bit RLE bitmap with a one-colour table, then the runs.
QByteArray rleDib(int width, int height, const QByteArray& runs) {
    QByteArray b;
    put32(b, 40);
    put32(b, std::uint32_t(width));
    put32(b, std::uint32_t(height));
    put16(b, 1);
    put16(b, 8);
    put32(b, 1); // RLE8
    put32(b, std::uint32_t(runs.size()));
    put32(b, 0);
    put32(b, 0);
    put32(b, 1); // colours used
    put32(b, 0);
    put32(b, 0x00FF0000); // the one colour: red
    return b + runs;
}

const std::uint8_t* bytes(const QByteArray& b) {
    return reinterpret_cast<const std::uint8_t*>(b.constData());
}

} // namespace

TEST(HostileBitmaps, DeltaEscapesCannotWrapTheColumnRoundToNegative) {
    // 2^31 / 255 deltas of 255 columns each would take x past INT_MAX; the run after them then
    // wrote far before the buffer.
    const int deltas = (1 << 23) + 40000;
    QByteArray runs;
    runs.reserve(deltas * 4 + 4);
    for (int i = 0; i < deltas; ++i) runs.append("\x00\x02\xFF\x00", 4);
    runs.append("\xFF\x00\x00\x01", 4); // a run of 255 pixels, then the end of the bitmap
    const QByteArray dib = rleDib(16, 2, runs);
    const DibResult r = decodeDib(bytes(dib), std::size_t(dib.size()), DibOptions{});
    ASSERT_FALSE(r.image.isNull()) << r.error.toStdString();
    EXPECT_EQ(r.image.size(), QSize(16, 2));
}

TEST(HostileBitmaps, RunsAreNotExpandedBeyondWhatTheirBytesCanDescribe) {
    const QByteArray huge = rleDib(4096, 4096, QByteArray("\x00\x01", 2));
    const DibResult r = decodeDib(bytes(huge), std::size_t(huge.size()), DibOptions{});
    EXPECT_TRUE(r.image.isNull());
    EXPECT_FALSE(r.error.isEmpty());
    // A small sparse bitmap (one end-of-bitmap escape) still decodes, blank.
    const QByteArray small = rleDib(64, 64, QByteArray("\x00\x01", 2));
    EXPECT_EQ(decodeDib(bytes(small), std::size_t(small.size()), DibOptions{}).image.size(),
              QSize(64, 64));
}

// A 2 x 1 uncompressed bitmap: a header of headerSize bytes (its colour count given), then
// `table` and the pixels.
QByteArray plainDib(std::uint32_t headerSize, int bits, std::uint32_t compression,
                    std::uint32_t colours, const QByteArray& tail) {
    QByteArray b;
    put32(b, headerSize);
    put32(b, 2);
    put32(b, 1);
    put16(b, 1);
    put16(b, unsigned(bits));
    put32(b, compression);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, colours);
    put32(b, 0);
    return b + tail;
}

TEST(HostileBitmaps, ColourCountsTheDataCannotHoldAreRefused) {
    struct Case {
        int bits;
        std::uint32_t colours;
        bool decodes;
    };
    for (const Case& c :
         {Case{8, 2147483647u, false}, Case{8, 257, false}, Case{24, 2147483647u, false},
          Case{24, 1000, false}, Case{4, 256, true}, Case{24, 1, true}}) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.colours) + " colours");
        // Sixteen table entries, then a padded row of pixels.
        const QByteArray dib = plainDib(40, c.bits, 0, c.colours, QByteArray(16 * 4 + 8, '\x10'));
        const DibResult r = decodeDib(bytes(dib), std::size_t(dib.size()), DibOptions{});
        EXPECT_EQ(r.image.isNull(), !c.decodes) << r.error.toStdString();
        EXPECT_EQ(r.error.isEmpty(), c.decodes);
    }
}

TEST(HostileBitmaps, AlphaMaskOfLargerHeadersIsHonoured) {
    // A 32-bit icon image with its channels in another order, the masks (alpha included) inside
    // a 56-, 108- or 124-byte header.
    for (const std::uint32_t headerSize : {56u, 108u, 124u}) {
        SCOPED_TRACE(headerSize);
        QByteArray masks;
        for (const std::uint32_t m : {0xFF000000u, 0x00FF0000u, 0x0000FF00u, 0x000000FFu})
            put32(masks, m);
        QByteArray tail = masks + QByteArray(int(headerSize) - 56, '\0');
        for (int i = 0; i < 2; ++i) tail.append("\x80\x30\x20\x10", 4); // A, B, G, R
        const QByteArray dib = plainDib(headerSize, 32, 3, 0, tail);
        DibOptions options;
        options.keepAlpha = true;
        const DibResult r = decodeDib(bytes(dib), std::size_t(dib.size()), options);
        ASSERT_FALSE(r.image.isNull()) << r.error.toStdString();
        EXPECT_EQ(r.image.pixel(0, 0), qRgba(0x10, 0x20, 0x30, 0x80));
    }
}

TEST(HostileMetafiles, LargePatternBitmapsAndBitmapFloodsStayWithinTheirBudgets) {
    // A hundred 4096 x 4096 pattern brushes kept in the object table would hold 6 GB; a
    // thousand stretched 4096 x 4096 bitmaps would take minutes on every paint.
    WmfBuilder b;
    b.window(0, 0, 100, 100).objects(200);
    const QByteArray pattern = rleDib(4096, 4096, QByteArray(4096, '\0'));
    QByteArray brush;
    put16(brush, 0); // style
    put16(brush, 0); // DIB_RGB_COLORS
    for (int i = 0; i < 100; ++i) b.raw(0x0142, brush + pattern);
    QByteArray stretch; // StretchDIB: rop, usage, sizes of source and destination, the bitmap
    put32(stretch, 0x00CC0020);
    put16(stretch, 0);
    for (int v : {4096, 4096, 0, 0, 100, 100, 0, 0}) put16(stretch, std::uint16_t(v));
    for (int i = 0; i < 1000; ++i) b.raw(0x0F43, stretch + pattern);
    const auto mf = Metafile::fromData(b.bytes());
    QStringList warnings;
    const QImage image = renderMetafile(*mf, QSize(100, 100), Qt::white, &warnings);
    EXPECT_FALSE(image.isNull());
    EXPECT_FALSE(warnings.isEmpty());
}

TEST(HostileMetafiles, AFullObjectTableDoesNotCostAScanPerRecord) {
    WmfBuilder b;
    b.window(0, 0, 10, 10).objects(65535);
    for (int i = 0; i < 200000; ++i) b.record(0x00F7, {0x300, 0}); // CreatePalette, no entries
    b.remove(5).brush(0, Qt::red).select(5).rectangle(0, 0, 10, 10);
    const auto mf = Metafile::fromData(b.bytes());
    QStringList warnings;
    const QImage image = renderMetafile(*mf, QSize(10, 10), Qt::white, &warnings)
                             .convertToFormat(QImage::Format_RGB32);
    // The deleted slot 5 was the lowest free one: the red brush took it.
    EXPECT_EQ(image.pixel(5, 5), qRgb(255, 0, 0));
}

TEST(HostileIcons, ThousandsOfEntriesPointingAtOneCostlyImageAreTriedOnce) {
    const int count = 65535;
    QByteArray ico;
    put16(ico, 0);
    put16(ico, 1);
    put16(ico, count);
    const std::uint32_t imageAt = 6 + 16 * count;
    QByteArray image;
    put32(image, 40);
    put32(image, 1024);
    put32(image, 2048); // 1024 rows of colour, 1024 of mask
    put16(image, 1);
    put16(image, 8);
    put32(image, 1); // RLE8
    for (int i = 0; i < 5; ++i) put32(image, 0);
    put32(image, 0);
    image.append("\x00\x02", 2); // a delta cut short: damaged after the allocation
    for (int i = 0; i < count; ++i) {
        ico += char(0), ico += char(0), ico += char(0), ico += char(0);
        put16(ico, 1);
        put16(ico, 8);
        put32(ico, std::uint32_t(image.size()));
        put32(ico, imageAt);
    }
    ico += image;
    EXPECT_THROW(pixmoor::Icon::fromData(ico), std::exception);
}

TEST(HostileMetafiles, TextSqueezedToNothingInOneDirectionIsDrawnWithoutCrashing) {
    // Found by fuzzing: text under a transform 2000 times wider than tall made Qt's glyph cache
    // read through a null glyph bitmap.
    QFile file(QStringLiteral(PIXMOOR_FIXTURES "/wmf/hostile/text-squeezed.wmf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto mf = Metafile::fromData(file.readAll());
    for (const QSize size : {QSize(48, 32), QSize(480, 320)}) {
        QStringList warnings;
        EXPECT_FALSE(renderMetafile(*mf, size, Qt::white, &warnings).isNull());
    }
}
