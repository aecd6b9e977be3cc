// Playing a metafile: the player walks the record list and hands each record to the family that
// plays it; records with no visible effect are passed over, unknown ones reported.
#include "imaging/wmf/player.h"

namespace pixmoor::wmf {

// Lets the player read what the parser worked out beyond the public interface.
class PlayerAccess {
public:
    static QPointF viewportScale(const Metafile& mf) { return mf.viewportScale_; }
};

namespace detail {

Player::Player(const Metafile& mf, Device& device, const QRectF& target, QStringList* warnings,
               bool identity)
    : mf_(mf), device_(device), warnings_(mf, warnings),
      dc_(mf, target, identity, PlayerAccess::viewportScale(mf), warnings_),
      objects_(mf.objectCount(), warnings_) {}

void Player::run() {
    for (std::size_t i = 0; i < mf_.records().size(); ++i) {
        warnings_.setRecord(i);
        const Record& r = mf_.records()[i];
        const char* base = mf_.bytes().constData() + r.offset;
        play(r.function, Params(base + 6, r.size - 6));
    }
}

bool Player::need(const Params& p, std::size_t words) {
    if (p.has(words)) return true;
    warn(QStringLiteral("too short for its parameters"));
    return false;
}

void Player::play(std::uint16_t fn, const Params& p) {
    using Family = bool (Player::*)(std::uint16_t, const Params&);
    static constexpr Family kFamilies[] = {&Player::stateRecord,   &Player::objectRecord,
                                           &Player::drawingRecord, &Player::textRecord,
                                           &Player::bitmapRecord,  &Player::regionRecord};
    for (const Family family : kFamilies)
        if ((this->*family)(fn, p)) return;
    switch (fn) {
    // Records with no visible effect here.
    case FnEof:
    case FnEscape:            // printer escapes and embedded comments
    case FnSetRelAbs:         // unused by GDI
    case FnSetStretchBltMode: // we always scale smoothly
    case FnSetMapperFlags:
    case FnRealizePalette:
    case FnSetPalEntries:
    case FnResizePalette:
    case FnAnimatePalette:
    case FnSetTextJustification:
    case FnSetLayout:
        return;
    case FnDrawText:
    default:
        warn(QStringLiteral("unknown record ignored"));
        return;
    }
}

} // namespace detail

void Metafile::play(Device& device, const QRectF& target, QStringList* warnings) const {
    detail::Player(*this, device, target, warnings, false).run();
    if (warnings && !stopReason_.isEmpty())
        warnings->append(QStringLiteral("playback stopped: %1").arg(stopReason_));
}

} // namespace pixmoor::wmf
