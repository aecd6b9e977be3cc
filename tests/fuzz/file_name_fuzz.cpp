// Fuzzes the file-name conversion: decoding any bytes must not fault, and encoding the result
// must give the same bytes back (a name that changed would open another file or none).
#include "platform/file_name.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = pixmoor::decodeFileName(bytes);
    if (pixmoor::encodeFileName(name) != bytes) std::abort();
    // Decoded text re-encodes stably: decode(encode(s)) == s for what decode produced.
    if (pixmoor::decodeFileName(pixmoor::encodeFileName(name)) != name) std::abort();
    return 0;
}
