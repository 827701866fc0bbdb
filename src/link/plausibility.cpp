#include "plausibility.h"

#include <array>

namespace oe {

namespace {

constexpr std::array<PlausibleRange, 8> kParameterRanges = {{
    {"MinPumpCycles", 1, 50, "the pump-time slider's range: one 20 ms step to 1 s"},
    {"MaxPumpCycles", 2, 50, "the pump-time slider's range"},
    {"RpmMin", 0, 6000, "the minimum-speed slider's range"},
    {"TinjMin", 50, 30000, "the injection-time slider's range"},
    {"TinjMax", 50, 30000, "the injection-time slider's range"},
    {"MinLoadPumpPause", 80, 2400, "the pause slider's range: 2 s to 60 s in 25 ms steps"},
    {"MaxLoadPumpPause", 80, 2400, "the pause slider's range"},
    {"RpmMultiplier", 50, 200, "the multiplier slider's range; 200 % is also the cap on what is shown"},
}};

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

std::span<const PlausibleRange> parameterRanges()
{
    return kParameterRanges;
}

std::span<const PlausibleRange> statusRanges()
{
    return kStatusRanges;
}

bool isPlausible(const DecodedReply &reply)
{
    switch (reply.kind) {
    case ReplyKind::Parameter:
        // An index the program never asks for has no range to hold it to.
        return reply.index < 0 || reply.index >= qsizetype(kParameterRanges.size())
               || kParameterRanges[size_t(reply.index)].holds(reply.value);
    case ReplyKind::Status:
        return kStatusRanges[0].holds(reply.rpm) && kStatusRanges[1].holds(reply.tinj)
               && kStatusRanges[2].holds(reply.pump) && kStatusRanges[3].holds(reply.pause);
    default:
        return true;
    }
}

} // namespace oe
