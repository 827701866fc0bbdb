#include "plausibility.h"

#include <array>

namespace oe {

namespace {

constexpr std::array<PlausibleRange, 4> kStatusRanges = {{
    {"engine speed", 0, 16000,
     "rpm after the multiplier, which corrects the pick-up to the true speed: no engine the oiler is "
     "fitted to turns faster"},
    {"injection time", 0, 30000,
     "the injection-time thresholds stop at 30000: the controller measures no longer injection"},
    {"pump time", 0, 50, "lies between the pump-time parameters, which stop at 50 (1 s); 0 while idle"},
    {"pump pause", 0, 2400, "lies between the pause parameters, which stop at 2400 (60 s); 0 while idle"},
}};

} // namespace

std::span<const PlausibleRange> statusRanges()
{
    return kStatusRanges;
}

bool isPlausible(const DecodedReply &reply)
{
    switch (reply.kind) {
    case ReplyKind::Status:
        return kStatusRanges[0].holds(reply.rpm) && kStatusRanges[1].holds(reply.tinj)
               && kStatusRanges[2].holds(reply.pump) && kStatusRanges[3].holds(reply.pause);
    default:
        return true;
    }
}

} // namespace oe
