#pragma once

#include "replydecoder.h"

#include <span>

namespace oe {

// A range a value must lie in to be believed, and why: the line has no checksum, so a flipped bit or
// line noise shaped like a frame can only be told by a value that cannot be.
struct PlausibleRange {
    const char *what;
    qint32 min;
    qint32 max;
    const char *reason;

    bool holds(qint32 value) const { return value >= min && value <= max; }
};

// What each of the eight parameters can hold, by index.
std::span<const PlausibleRange> parameterRanges();
// What a status reply can report, in its field order: engine speed, injection time, pump time, pause.
std::span<const PlausibleRange> statusRanges();

// False for a read answer or a status reply with a value outside its range. Other replies carry
// nothing that could be checked this way.
bool isPlausible(const DecodedReply &reply);

} // namespace oe
