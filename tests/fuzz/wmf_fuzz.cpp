// Fuzz target: parses the input as a metafile and plays it into a small image, with the text
// warnings collected; data that looks like an icon goes to the DIB decoder as an icon image.
#include "imaging/wmf/dib.h"
#include "imaging/wmf/metafile.h"

#include <QGuiApplication>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Fonts need a GUI application; the offscreen platform needs no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const auto metafile = pixmoor::wmf::Metafile::fromData(bytes);
        QStringList warnings;
        pixmoor::wmf::renderMetafile(*metafile, QSize(48, 32), Qt::white, &warnings);
    } catch (const pixmoor::wmf::MetafileError&) {
    }
    if (size > 4 && data[0] == 40) {
        pixmoor::wmf::DibOptions options;
        options.rowsOverride = data[1];
        pixmoor::wmf::decodeDib(data, size, options);
    }
    return 0;
}
