// GIF's LZW decoder. Every string in the code table is a run of pixels already written: a code
// added after string S (at `start`, `length` long) is S and the first pixel after it, which is
// the run of length + 1 at the same start. So the table holds (start, length) pairs and decoding
// a code is one copy from earlier output, with no per-pixel stack as in the textbook decoder.
#include "imaging/codec/gif_lzw.h"

#include "imaging/codec/errors.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pixmoor::codec::detail {

namespace {

constexpr int kMaxBits = 12;
constexpr unsigned kTableSize = 1u << kMaxBits;

struct Run {
    std::uint32_t start;
    std::uint32_t length;
};

// Copies length bytes from an earlier run (source + length <= dest) in eight-byte steps. May
// write up to seven bytes past the run, which the caller's slack absorbs; every byte it reads for
// the run itself lies before dest, so the overlap of a long string with itself reads only bytes
// that were complete before the copy began.
inline void copyRun(std::uint8_t* dest, const std::uint8_t* source, std::size_t length) {
    for (std::size_t i = 0; i < length; i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, source + i, 8);
        std::memcpy(dest + i, &chunk, 8);
    }
}

} // namespace

int decodeGifLzw(const std::uint8_t* data, std::size_t size, int minCodeSize, std::uint8_t* out,
                 std::size_t count) {
    if (minCodeSize < 1 || minCodeSize > kMaxBits - 1) return Corrupt;
    const unsigned clear = 1u << minCodeSize;
    const unsigned end = clear + 1;
    std::array<Run, kTableSize> table;

    int codeBits = minCodeSize + 1;
    unsigned next = clear + 2;
    bool havePrevious = false;
    Run previous{0, 0};

    std::uint64_t bits = 0; // unread bits, least significant first
    int held = 0;
    std::size_t in = 0;
    std::size_t at = 0;
    while (at < count) {
        if (held < codeBits) {
            // Refill whole bytes while they fit in the 64-bit buffer.
            while (held <= 56 && in < size) {
                bits |= std::uint64_t(data[in++]) << held;
                held += 8;
            }
            if (held < codeBits) return Truncated;
        }
        const unsigned code = unsigned(bits) & ((1u << codeBits) - 1);
        bits >>= codeBits;
        held -= codeBits;

        if (code == clear) {
            codeBits = minCodeSize + 1;
            next = clear + 2;
            havePrevious = false;
            continue;
        }
        if (code == end) return Corrupt; // the picture ends before its last pixel

        // The string is written clipped to the picture: a stream may run on past its last pixel.
        const std::size_t room = count - at;
        Run current{std::uint32_t(at), 0};
        if (code < clear) {
            out[at] = std::uint8_t(code);
            current.length = 1;
        } else if (!havePrevious) {
            return Corrupt; // only a single pixel may follow a clear code
        } else if (code < next) {
            const Run run = table[code];
            copyRun(out + at, out + run.start, std::min<std::size_t>(run.length, room));
            current.length = run.length;
        } else if (code == next) {
            // The string being defined: the previous one and its own first pixel.
            const std::uint8_t first = out[previous.start];
            copyRun(out + at, out + previous.start, std::min<std::size_t>(previous.length, room));
            if (previous.length < room) out[at + previous.length] = first;
            current.length = previous.length + 1;
        } else {
            return Corrupt;
        }
        // A table full at 12 bits stays as it is until the next clear code (a deferred clear).
        if (havePrevious && next < kTableSize)
            table[next++] = {previous.start, previous.length + 1};
        // Codes grow a bit once the next entry needs it (after the first code already when the
        // minimum size is 1, as giflib does).
        if (next >= (1u << codeBits) && codeBits < kMaxBits) ++codeBits;
        previous = current;
        havePrevious = true;
        if (current.length >= room) break;
        at += current.length;
    }
    return Ok;
}

} // namespace pixmoor::codec::detail
