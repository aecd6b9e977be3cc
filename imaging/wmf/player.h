// The player: walks a metafile's records and plays each onto a Device. The records are played by
// family, one file each (play_state.cpp, play_objects.cpp, play_drawing.cpp, play_text.cpp,
// play_bitmaps.cpp, play_regions.cpp); player.cpp walks the records and dispatches.
#pragma once

#include "imaging/wmf/device.h"
#include "imaging/wmf/device_context.h"
#include "imaging/wmf/metafile.h"
#include "imaging/wmf/objects.h"
#include "imaging/codec/limits.h"
#include "imaging/wmf/records.h"
#include "imaging/wmf/warnings.h"

#include <QByteArray>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace pixmoor::wmf::detail {

// Text of a record's bytes in the font's character set.
QString decodeText(const QByteArray& bytes, int charset);

class Player {
public:
    // identity: measure in logical units (the bounds pass) rather than map onto target.
    Player(const Metafile& mf, Device& device, const QRectF& target, QStringList* warnings,
           bool identity);

    void run();

private:
    void play(std::uint16_t fn, const Params& p);
    // Each plays fn when it is a record of its family and returns whether it was.
    bool stateRecord(std::uint16_t fn, const Params& p);
    bool objectRecord(std::uint16_t fn, const Params& p);
    bool drawingRecord(std::uint16_t fn, const Params& p);
    bool textRecord(std::uint16_t fn, const Params& p);
    bool bitmapRecord(std::uint16_t fn, const Params& p);
    bool regionRecord(std::uint16_t fn, const Params& p);

    void textOut(const Params& p, bool extended);
    void blt(std::uint16_t fn, const Params& p);
    void createPatternBrush(std::uint16_t fn, const Params& p);
    void createRegion(const Params& p);

    void warn(const QString& text) { warnings_.add(text); }
    // Whether the record has words parameter words; warns when it has not.
    bool need(const Params& p, std::size_t words);

    const Metafile& mf_;
    Device& device_;
    Warnings warnings_;
    DeviceContext dc_;
    ObjectTable objects_;
    // Bitmap pixels this playback may still decode.
    std::uint64_t dibPixelsLeft_ = limits::kMaxDibPixelsPerPlay;
};

} // namespace pixmoor::wmf::detail
