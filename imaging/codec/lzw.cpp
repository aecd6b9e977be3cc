// The LZW decoders of GIF and TIFF, one loop for both. Every string in the code table is a run
// of bytes already written: a code added after string S (written at `at`, `length` long) is S
// and the byte after it, which is the run of length + 1 at the same place. So the table holds
// where each string can be copied from and its length, and decoding a code is one copy from
// earlier output (a literal's from a table of the byte values), with no per-byte stack as in
// the textbook decoder and no branch on the kind of code.
#include "imaging/codec/lzw.h"

#include "imaging/codec/errors.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace pixmoor::codec::detail {

namespace {

constexpr int kMaxBits = 12;
constexpr unsigned kTableSize = 1u << kMaxBits;

// Where a code's string can be copied from, and its length. A string code's string is a run
// of output already written; a literal's is its own byte in a small table; the clear and end
// codes have none (length 0).
struct Source {
    const std::uint8_t* from;
    std::uint32_t length;
};

// Copies length bytes from an earlier run (source + length <= dest) sixteen bytes at a time. May
// write up to fifteen bytes past the run, which the caller's slack absorbs; every byte it reads
// for the run itself lies before dest, so the overlap of a long string with itself reads only
// bytes that were complete before the copy began. Most strings take the first copy alone.
inline void copyRun(std::uint8_t* dest, const std::uint8_t* source, std::size_t length) {
    std::uint8_t chunk[16];
    std::memcpy(chunk, source, 16);
    std::memcpy(dest, chunk, 16);
    for (std::size_t i = 16; i < length; i += 16) {
        std::memcpy(chunk, source + i, 16);
        std::memcpy(dest + i, chunk, 16);
    }
}

// The differences between the two codings.
struct GifCodes {
    static constexpr bool kMostSignificantFirst = false;
    static constexpr unsigned kEarlyChange = 0; // widen when next reaches 2^bits
    static constexpr bool kClearFirst = false;
    static constexpr bool kFullTableIsFine = true; // a deferred clear
};
struct TiffCodes {
    static constexpr bool kMostSignificantFirst = true;
    static constexpr unsigned kEarlyChange = 1; // widen when next reaches 2^bits - 1
    static constexpr bool kClearFirst = true;
    static constexpr bool kFullTableIsFine = false;
};

template <class Codes>
int decodeLzw(const std::uint8_t* data, std::size_t size, int minCodeSize, std::uint8_t* out,
              std::size_t count) {
    if (minCodeSize < 1 || minCodeSize > kMaxBits - 1) return Corrupt;
    const unsigned clear = 1u << minCodeSize;
    const unsigned end = clear + 1;
    // Every literal is a string of the table too, so every code is one copy, with no branch on
    // its kind. The literals' bytes leave room for a sixteen-byte copy from the last.
    std::array<std::uint8_t, kTableSize / 2 + 16> literals{};
    std::array<Source, kTableSize> table;
    for (unsigned c = 0; c < clear; ++c) {
        literals[c] = std::uint8_t(c);
        table[c] = {&literals[c], 1};
    }
    table[clear] = table[end] = {nullptr, 0};

    int codeBits = minCodeSize + 1;
    // Codes below `next` have a string or are clear or end; TIFF data must begin with a clear
    // code, so until then no code has one.
    unsigned next = Codes::kClearFirst ? 0 : clear + 2;
    bool havePrevious = false;
    std::size_t previousAt = 0;       // where the previous code's string was written
    std::uint32_t previousLength = 0; // and its length

    // Unread bits: least significant first (GIF), or from the top down (TIFF).
    std::uint64_t bits = 0;
    int held = 0;
    std::size_t in = 0;
    std::size_t at = 0;
    while (at < count) {
        if (held < codeBits && in + 8 <= size) {
            // Eight bytes at once, keeping the whole bytes that fit: the bits below the held
            // ones are those of the next bytes, so the next refill writes them again unchanged.
            std::uint64_t chunk;
            std::memcpy(&chunk, data + in, 8);
            // The first byte in the top bits (TIFF) or the bottom ones (GIF).
            if constexpr (Codes::kMostSignificantFirst ==
                          (std::endian::native == std::endian::little))
                chunk = __builtin_bswap64(chunk);
            if constexpr (Codes::kMostSignificantFirst)
                bits |= chunk >> held;
            else
                bits |= chunk << held;
            in += std::size_t(63 - held) >> 3;
            held |= 56;
        } else if (held < codeBits) {
            // Near the end: whole bytes while they fit in the 64-bit buffer.
            while (held <= 56 && in < size) {
                if constexpr (Codes::kMostSignificantFirst)
                    bits |= std::uint64_t(data[in++]) << (56 - held);
                else
                    bits |= std::uint64_t(data[in++]) << held;
                held += 8;
            }
            if (held < codeBits) return Truncated;
        }
        unsigned code;
        if constexpr (Codes::kMostSignificantFirst) {
            code = unsigned(bits >> (64 - codeBits));
            bits <<= codeBits;
        } else {
            code = unsigned(bits) & ((1u << codeBits) - 1);
            bits >>= codeBits;
        }
        held -= codeBits;

        // The string is written clipped to the picture: a stream may run on past its last pixel.
        const std::size_t room = count - at;
        std::uint32_t length;
        if (code < next && table[code].length != 0) {
            // A literal, or a string in the table (after a clear only a literal is below next).
            const Source source = table[code];
            copyRun(out + at, source.from, std::min<std::size_t>(source.length, room));
            length = source.length;
        } else if (code == clear) {
            codeBits = minCodeSize + 1;
            next = clear + 2;
            havePrevious = false;
            continue;
        } else if (code == next && havePrevious) {
            // The string being defined: the previous one and its own first pixel.
            const std::uint8_t first = out[previousAt];
            copyRun(out + at, out + previousAt, std::min<std::size_t>(previousLength, room));
            if (previousLength < room) out[at + previousLength] = first;
            length = previousLength + 1;
        } else {
            // The end code before the last pixel, a code not yet defined, a string code right
            // after a clear, or (TIFF) any code before the first clear.
            return Corrupt;
        }
        if (havePrevious) {
            // The previous string and the first byte of this one: the run that starts where the
            // previous string was written. GIF: a table full at 12 bits stays as it is until the
            // next clear code (a deferred clear). TIFF writers clear it before, and libtiff reads
            // on differently after.
            if (next < kTableSize)
                table[next++] = {out + previousAt, previousLength + 1};
            else if constexpr (!Codes::kFullTableIsFine)
                return Corrupt;
        }
        // Codes grow a bit once the next entry needs it (GIF: after the first code already when
        // the minimum size is 1, as giflib does), one entry early in TIFF.
        if (next + Codes::kEarlyChange >= (1u << codeBits) && codeBits < kMaxBits) ++codeBits;
        previousAt = at;
        previousLength = length;
        havePrevious = true;
        if (length >= room) break;
        at += length;
    }
    return Ok;
}

} // namespace

int decodeGifLzw(const std::uint8_t* data, std::size_t size, int minCodeSize, std::uint8_t* out,
                 std::size_t count) {
    return decodeLzw<GifCodes>(data, size, minCodeSize, out, count);
}

int decodeTiffLzw(const std::uint8_t* data, std::size_t size, std::uint8_t* out,
                  std::size_t count) {
    // Old-style (bit-reversed) codings begin with a zero byte and an odd one; libtiff reads them.
    if (size >= 2 && data[0] == 0 && (data[1] & 1)) return Corrupt;
    return decodeLzw<TiffCodes>(data, size, 8, out, count);
}

} // namespace pixmoor::codec::detail
