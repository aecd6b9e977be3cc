// Decoding ahead for conversion: one worker thread decodes the next files of a run, in order,
// to the picture the image component's load would make, while the user-interface thread encodes
// the file before them. Nothing observable moves: the component installs each decode at the point
// where it would have read the file itself; a file that fails is left to the component's own
// load, which shows its messages. The worker, its order and bounds and its watch on reads that
// never return (a dead network or FUSE mount) are the prefetcher's (imaging/prefetcher.h).
#pragma once

#include "imaging/codec/raster.h"
#include "imaging/prefetcher.h"

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
    codec::Raster raster;
    // The read never returned and was given up: the file must not be read on the calling thread,
    // where it would block the window; it is reported as unreadable (result ReadFailed).
    bool blocked = false;
};

class DecodeAhead {
public:
    static constexpr int kWaitSliceMs = 40;

    // directory: absolute; names: bare file names in the order they will be taken; bits and
    // dither: what the component's load asks of the decoders. Files the codec library does not
    // read by their name are not decoded. At most lookAhead files past the one being converted
    // are held decoded. The worker starts at once and never touches the working directory.
    DecodeAhead(const QString& directory, const QStringList& names, int bits, int dither,
                int lookAhead = 1);
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
