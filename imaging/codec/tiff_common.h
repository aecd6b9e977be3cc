// Internal to the codec library: how the TIFF reader and writer open libtiff, with its messages
// kept rather than printed and its allocations capped.
#pragma once

#include <memory>
#include <string>

#include <tiffio.h>

namespace pixmoor::codec::detail {

// libtiff's messages are kept, not printed: the first error decides nothing by itself, but it
// is useful when debugging a file.
struct TiffMessages {
    int errors = 0;
    char first[160] = {};
};

struct TiffCloser {
    void operator()(TIFF* tif) const {
        if (tif) TIFFClose(tif);
    }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Opens libtiff on a handle with the given procedures, silent handlers and an allocation cap.
// Ok, OutOfMemory, or Corrupt when libtiff refuses the file.
int openTiffWith(thandle_t handle, const std::string& name, const char* mode,
                 TiffMessages& messages, TiffHandle& out, TIFFReadWriteProc read,
                 TIFFReadWriteProc write, TIFFSeekProc seek, TIFFSizeProc size,
                 TIFFMapFileProc map);

} // namespace pixmoor::codec::detail
