// Internal to the codec library: the answer of a reader's faster decoding strategy. Declined
// means "not for this file, take the reader's general road"; it never leaves the reader.
#pragma once

#include "imaging/codec/errors.h"

namespace pixmoor::codec::detail {

enum class Strategy {
    Done,     // the rows went to the sink
    Declined, // nothing went to the sink; the general road decodes the file and judges it
    Stopped,  // the sink asked to stop
};

// Whether a strategy settled the decode; result is then the decode's answer (Ok or Stopped).
inline bool settled(Strategy strategy, int& result) {
    if (strategy == Strategy::Declined) return false;
    result = strategy == Strategy::Done ? Ok : Stopped;
    return true;
}

} // namespace pixmoor::codec::detail
