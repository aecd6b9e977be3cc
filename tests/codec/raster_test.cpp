// Tests of raster allocation: layout, limits and the failure state.
#include "imaging/codec/errors.h"
#include "imaging/codec/raster.h"

#include <gtest/gtest.h>

namespace pixmoor::codec {
namespace {

TEST(Raster, RowsAreZeroedAndStartOnFourByteBoundaries) {
    Raster r;
    ASSERT_EQ(allocateRaster(r, 5, 3, 24), Ok);
    EXPECT_EQ(r.stride, 16u); // 15 bytes rounded up
    EXPECT_EQ(r.pixels.size(), 48u);
    EXPECT_EQ(r.bits, 24);
    ASSERT_EQ(allocateRaster(r, 7, 2, 1), Ok); // indexed: one byte per pixel, whatever the depth
    EXPECT_EQ(r.stride, 8u);
    EXPECT_TRUE(r.indexed());
    for (auto b : r.pixels) EXPECT_EQ(b, 0);
}

TEST(Raster, RefusesBadArgumentsAndLeavesTheRasterEmpty) {
    Raster r;
    ASSERT_EQ(allocateRaster(r, 4, 4, 8), Ok);
    EXPECT_EQ(allocateRaster(r, 4, 4, 16), BadDepth);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(allocateRaster(r, 0, 4, 8), Corrupt);
    EXPECT_EQ(allocateRaster(r, 4, -1, 8), Corrupt);
    EXPECT_TRUE(r.empty());
}

TEST(Raster, RefusesImagesAboveThePixelLimitBeforeAllocating) {
    Raster r;
    // 60000 x 60000 would be 10 GB at 24 bits: refused at once, not by a failed allocation.
    EXPECT_EQ(allocateRaster(r, 60000, 60000, 24), TooLarge);
    EXPECT_EQ(allocateRaster(r, limits::kMaxDimension + 1, 1, 8), TooLarge);
    EXPECT_EQ(allocateRaster(r, 1 << 15, (1 << 13) + 1, 8), TooLarge); // just over 2^28
    EXPECT_TRUE(r.empty());
    EXPECT_TRUE(r.pixels.capacity() == 0);
}

} // namespace
} // namespace pixmoor::codec
