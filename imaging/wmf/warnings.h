// The problems met while playing a metafile, each named by the record it was met in; a hostile
// file cannot grow the list past limits::kMaxWarnings.
#pragma once

#include "imaging/wmf/metafile.h"
#include "imaging/codec/limits.h"

#include <QString>
#include <QStringList>
#include <cstddef>

namespace pixmoor::wmf::detail {

class Warnings {
public:
    // out may be null: the problems are then dropped.
    Warnings(const Metafile& mf, QStringList* out) : mf_(mf), out_(out) {}

    // The record whose problems follow (an index into Metafile::records()).
    void setRecord(std::size_t index) { index_ = index; }

    void add(const QString& text) {
        if (!out_ || out_->size() >= limits::kMaxWarnings) return;
        out_->append(QStringLiteral("record %1 (function 0x%2): %3")
                         .arg(index_ + 1)
                         .arg(mf_.records()[index_].function, 4, 16, QLatin1Char('0'))
                         .arg(text));
    }

private:
    const Metafile& mf_;
    QStringList* out_;
    std::size_t index_ = 0;
};

} // namespace pixmoor::wmf::detail
