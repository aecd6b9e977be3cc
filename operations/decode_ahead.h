// Decoding ahead for conversion: worker threads decode the next files of a run, in order, to the
// picture the image component's load would make, and encode each in the run's format into memory,
// while the user-interface thread installs and writes the files before them. Nothing observable
// moves: the component installs each decode at the point where it would have read the file
// itself, and the bytes are written where it would have saved (after the overwrite question); a
// file that fails to decode is left to the component's own load, one that fails to encode to its
// own save, which show their messages. The workers, their order and bounds and their watch on
// reads that never return (a dead network or FUSE mount) are the prefetcher's
// (imaging/prefetcher.h).
#pragma once

#include "imaging/codec/encoded_image.h"
#include "imaging/codec/format_table.h"
#include "imaging/prefetcher.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pixmoor {

struct AheadDecode {
    int result = 0; // the decoder's result code
    QImage image;   // the picture, as rasterToImage makes it of the decode
    // The picture encoded for the run (what the component's save would write), when that
    // succeeded.
    std::optional<codec::EncodedImage> encoded;
    // The read never returned and was given up: the file must not be read on the calling thread,
    // where it would block the window; it is reported as unreadable (result ReadFailed).
    bool blocked = false;
};

// What each decode is encoded to: the format and what the component's save asks of its writer.
struct AheadEncoding {
    codec::ImageFormat format;
    codec::WriteOptions options;
};

class DecodeAhead {
public:
    static constexpr int kWaitSliceMs = 40;
    // Two files in work at once, one on each core of a common machine, and no more than two
    // claimed past the one being written: a 24-megapixel photograph takes 72 MB decoded and about
    // twice that while it is reduced to a palette, so a run of them stays under 500 MB.
    static constexpr int kWorkers = 2;
    static constexpr int kLookAhead = 2;

    // directory: absolute; names: bare file names in the order they will be taken; bits and
    // dither: what the component's load asks of the decoders; encoding: what each decode is
    // encoded to. Files the codec library does not read by their name are not decoded. At most
    // lookAhead files past the one being converted are claimed by the workers. The workers start
    // at once and never touch the working directory.
    DecodeAhead(const QString& directory, const QStringList& names, int bits, int dither,
                std::optional<AheadEncoding> encoding = std::nullopt, int workers = kWorkers,
                int lookAhead = kLookAhead);
    // Stops the worker (after the file it is decoding) and waits for it, unless it stays quiet
    // in a read: it is then left behind.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The decode of names[k], waited for in slices of kWaitSliceMs with pump run between them.
    // Nothing when the file is not one the worker decodes, failed to decode, or changed (another
    // inode, size or time) since the worker read it: the caller then loads it itself. A decode
    // marked blocked when its read was given up. Call with increasing k; earlier decodes are
    // dropped.
    std::optional<AheadDecode> take(int k, const std::function<void()>& pump);

private:
    std::vector<std::string> paths_; // absolute, in the file system's bytes
    std::unique_ptr<Prefetcher> prefetcher_;
};

} // namespace pixmoor
