// How close two pictures of one size are.
#pragma once

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>

namespace pixmoor::test {

// The peak signal-to-noise ratio of b against a over the three colour channels, in dB; 99 for
// identical pictures.
inline double psnr(const QImage& a, const QImage& b) {
    double squares = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int dr = qRed(p) - qRed(q), dg = qGreen(p) - qGreen(q), db = qBlue(p) - qBlue(q);
            squares += dr * dr + dg * dg + db * db;
        }
    const double mse = squares / (3.0 * a.width() * a.height());
    return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The number of pixels where ours differs from theirs (pictures of one size); the first few are
// reported as failures naming both values, theirs under whose.
inline int differingPixels(const QImage& ours, const QImage& theirs, const char* whose) {
    int differing = 0;
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x)
            if (ours.pixel(x, y) != theirs.pixel(x, y) && differing++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << std::hex << " ours "
                              << ours.pixel(x, y) << " " << whose << " " << theirs.pixel(x, y);
    return differing;
}

} // namespace pixmoor::test
