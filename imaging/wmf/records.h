// The records of a metafile as the player reads them: their function numbers, the little-endian
// words they are made of, and Params, the bounds-checked reader of one record's parameters.
#pragma once

#include <QColor>
#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace pixmoor::wmf::detail {

enum Function : std::uint16_t {
    FnEof = 0x0000,
    FnRealizePalette = 0x0035,
    FnSetPalEntries = 0x0037,
    FnSetBkMode = 0x0102,
    FnSetMapMode = 0x0103,
    FnSetRop2 = 0x0104,
    FnSetRelAbs = 0x0105,
    FnSetPolyFillMode = 0x0106,
    FnSetStretchBltMode = 0x0107,
    FnSetTextCharExtra = 0x0108,
    FnSetBkColor = 0x0201,
    FnSetTextColor = 0x0209,
    FnSetTextJustification = 0x020A,
    FnSetWindowOrg = 0x020B,
    FnSetWindowExt = 0x020C,
    FnSetViewportOrg = 0x020D,
    FnSetViewportExt = 0x020E,
    FnOffsetWindowOrg = 0x020F,
    FnOffsetViewportOrg = 0x0211,
    FnLineTo = 0x0213,
    FnMoveTo = 0x0214,
    FnOffsetClipRgn = 0x0220,
    FnFillRegion = 0x0228,
    FnSetMapperFlags = 0x0231,
    FnSelectPalette = 0x0234,
    FnScaleWindowExt = 0x0410,
    FnScaleViewportExt = 0x0412,
    FnExcludeClipRect = 0x0415,
    FnIntersectClipRect = 0x0416,
    FnEllipse = 0x0418,
    FnFloodFill = 0x0419,
    FnRectangle = 0x041B,
    FnSetPixel = 0x041F,
    FnFrameRegion = 0x0429,
    FnAnimatePalette = 0x0436,
    FnTextOut = 0x0521,
    FnPolyPolygon = 0x0538,
    FnExtFloodFill = 0x0548,
    FnRoundRect = 0x061C,
    FnPatBlt = 0x061D,
    FnEscape = 0x0626,
    FnDrawText = 0x062F,
    FnCreateRegion = 0x06FF,
    FnArc = 0x0817,
    FnPie = 0x081A,
    FnChord = 0x0830,
    FnBitBlt = 0x0922,
    FnDibBitBlt = 0x0940,
    FnExtTextOut = 0x0A32,
    FnStretchBlt = 0x0B23,
    FnDibStretchBlt = 0x0B41,
    FnSetDibToDev = 0x0D33,
    FnStretchDib = 0x0F43,
    FnSaveDc = 0x001E,
    FnRestoreDc = 0x0127,
    FnDeleteObject = 0x01F0,
    FnSelectObject = 0x012D,
    FnInvertRegion = 0x012A,
    FnPaintRegion = 0x012B,
    FnSelectClipRegion = 0x012C,
    FnSetTextAlign = 0x012E,
    FnResizePalette = 0x0139,
    FnDibCreatePatternBrush = 0x0142,
    FnSetLayout = 0x0149,
    FnCreatePatternBrush = 0x01F9,
    FnCreatePalette = 0x00F7,
    FnCreatePenIndirect = 0x02FA,
    FnCreateFontIndirect = 0x02FB,
    FnCreateBrushIndirect = 0x02FC,
    FnPolygon = 0x0324,
    FnPolyline = 0x0325
};

inline std::uint16_t u16(const char* p) {
    return std::uint16_t(std::uint8_t(p[0]) | std::uint8_t(p[1]) << 8);
}
inline std::uint32_t u32(const char* p) {
    return u16(p) | std::uint32_t(u16(p + 2)) << 16;
}

// The parameter words of one record, read with bounds checks (out of range reads as 0 and
// marks the record short).
class Params {
public:
    Params(const char* data, std::size_t size) : p_(data), n_(size) {}
    std::size_t size() const { return n_; }
    std::size_t words() const { return n_ / 2; }
    bool has(std::size_t words) const { return n_ >= words * 2; }
    std::int16_t s(std::size_t word) const { return std::int16_t(w(word)); }
    std::uint16_t w(std::size_t word) const {
        if (word * 2 + 2 > n_) return 0;
        return u16(p_ + word * 2);
    }
    std::uint32_t dw(std::size_t word) const { return w(word) | std::uint32_t(w(word + 1)) << 16; }
    QColor colour(std::size_t word) const {
        const std::uint32_t c = dw(word);
        return QColor(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF));
    }
    const std::uint8_t* bytes(std::size_t fromWord) const {
        return reinterpret_cast<const std::uint8_t*>(p_) + std::min(fromWord * 2, n_);
    }
    std::size_t bytesFrom(std::size_t fromWord) const {
        return fromWord * 2 >= n_ ? 0 : n_ - fromWord * 2;
    }

private:
    const char* p_;
    std::size_t n_;
};

} // namespace pixmoor::wmf::detail
