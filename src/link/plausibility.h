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

// What a status reply can report, in its field order: engine speed, injection time, pump time, pause.
std::span<const PlausibleRange> statusRanges();

// False for a status reply with a reading no engine or pump can give. A parameter's value is whatever
// the controller holds (0 to 65535, also beyond its slider: an erased memory reads 65535), so a read
// answer is never judged here; two agreeing reads judge it (see ParameterBook). Other replies carry
// nothing that could be checked this way.
bool isPlausible(const DecodedReply &reply);

} // namespace oe
