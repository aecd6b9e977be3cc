// Fuzzes the icon reader's PNG entries: the input, taken as a PNG, becomes the one entry of an icon
// file read by Icon::fromData (the codec's PNG reader over memory with alpha kept, no text read);
// input that already starts like an icon file is read as it is. Any bytes must give an icon or a
// clean error.
#include "imaging/picture.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <cstdlib>

namespace {

void putLe(QByteArray& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(char(v >> (8 * i)));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray icon;
    if (size >= 4 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || data[2] == 2)) {
        icon = input;
    } else {
        // ICONDIR (reserved, type 1, one entry), then the entry: 32 x 32, 32 bits, size, offset.
        putLe(icon, 0, 2);
        putLe(icon, 1, 2);
        putLe(icon, 1, 2);
        icon.append(char(32)).append(char(32)).append(char(0)).append(char(0));
        putLe(icon, 1, 2);
        putLe(icon, 32, 2);
        putLe(icon, std::uint32_t(size), 4);
        putLe(icon, 22, 4);
        icon.append(input);
    }
    try {
        const pixmoor::Icon read = pixmoor::Icon::fromData(icon);
        const QImage& image = read.image();
        if (image.isNull() || !image.textKeys().isEmpty() ||
            image.format() != QImage::Format_ARGB32_Premultiplied)
            std::abort();
    } catch (const pixmoor::PictureError&) {
    }
    return 0;
}
