// The graphics objects a metafile creates (pens, brushes, fonts, palettes, regions) in its own
// units, and the object table that holds them by index as the records create, select and
// delete them.
#pragma once

#include "imaging/wmf/device.h"
#include "imaging/wmf/warnings.h"

#include <QColor>
#include <QList>
#include <QRegion>
#include <QString>
#include <variant>
#include <vector>

namespace pixmoor::wmf::detail {

struct LogPen {
    int style = PsSolid;
    int width = 0; // logical units
    QColor color = Qt::black;
};
struct LogFont {
    int height = 0, width = 0, escapement = 0, weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    int charset = 0;
    QString face;
};
using Palette = QList<QRgb>;
// Brushes are kept as the device takes them: their patterns are device-independent.
using Object = std::variant<std::monostate, LogPen, Brush, LogFont, Palette, QRegion>;

// The table of the header's object count: a new object takes the lowest free slot, kept in a
// min-heap so that a file of many objects does not scan the table for each.
class ObjectTable {
public:
    ObjectTable(int size, Warnings& warnings);

    std::size_t size() const { return objects_.size(); }
    // Stores object in the lowest free slot; a full table drops it with a warning.
    void add(Object object);
    // Frees the slot of index (a warning when it holds no object).
    void remove(int index);
    // The object at index; null, with a warning, when the index is out of range or empty.
    Object* at(int index);
    // The slot at index, empty or not; null when out of range. No warning.
    const Object* slot(int index) const;

private:
    std::vector<Object> objects_;
    std::vector<int> freeSlots_; // min-heap of the free slots of objects_
    Warnings& warnings_;
};

} // namespace pixmoor::wmf::detail
