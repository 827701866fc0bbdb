#pragma once

#include "parameterset.h"

#include <optional>

namespace oe {

// How a slider position becomes its parameter: pump and pause sliders carry the value itself, the
// speed and injection-time sliders step in 50s (the position is rounded down), and the multiplier
// slider counts tens of percent.
constexpr qint32 fieldFromPosition(ParameterIndex index, int position)
{
    switch (index) {
    case ParameterIndex::RpmMin:
    case ParameterIndex::TinjMin:
    case ParameterIndex::TinjMax:
        return position / 50 * 50;
    case ParameterIndex::RpmMultiplier:
        return position * 10;
    default:
        return position;
    }
}

// The slider position that shows a value read from the controller: the multiplier is capped at 200 %
// and shown in tens; every other value is given to its slider as it is.
constexpr qint32 cappedMultiplier(qint32 value) { return value > 200 ? 200 : value; }

constexpr int positionFromField(ParameterIndex index, qint32 value)
{
    return index == ParameterIndex::RpmMultiplier ? cappedMultiplier(value) / 10 : value;
}

// The partner a slider is held to when it is released, or nothing for the two sliders without one.
constexpr std::optional<ParameterIndex> interlockPartner(ParameterIndex index)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles: return ParameterIndex::MaxPumpCycles;
    case ParameterIndex::MaxPumpCycles: return ParameterIndex::MinPumpCycles;
    case ParameterIndex::TinjMin: return ParameterIndex::TinjMax;
    case ParameterIndex::TinjMax: return ParameterIndex::TinjMin;
    case ParameterIndex::MinLoadPumpPause: return ParameterIndex::MaxLoadPumpPause;
    case ParameterIndex::MaxLoadPumpPause: return ParameterIndex::MinLoadPumpPause;
    default: return std::nullopt;
    }
}

// Where the released slider must stand so its pair stays in order; the partner never moves. Pump and
// injection-time maxima stay at or above their minima; the pause pair runs the other way round (the
// pause at maximum load is never longer than at minimum load).
constexpr int interlockedPosition(ParameterIndex released, int position, int partnerPosition)
{
    switch (released) {
    case ParameterIndex::MinPumpCycles:
    case ParameterIndex::TinjMin:
    case ParameterIndex::MaxLoadPumpPause:
        return position > partnerPosition ? partnerPosition : position;
    case ParameterIndex::MaxPumpCycles:
    case ParameterIndex::TinjMax:
    case ParameterIndex::MinLoadPumpPause:
        return position < partnerPosition ? partnerPosition : position;
    default:
        return position;
    }
}

// Whether a commit takes the field from the slider position again. The injection-time sliders only do
// so when the interlock moved them, and the speed and multiplier sliders never: they write the value
// their last preview left, which is what their label shows.
constexpr bool commitRefreshesField(ParameterIndex index, bool interlockMoved)
{
    switch (index) {
    case ParameterIndex::RpmMin:
    case ParameterIndex::RpmMultiplier:
        return false;
    case ParameterIndex::TinjMin:
    case ParameterIndex::TinjMax:
        return interlockMoved;
    default:
        return true;
    }
}

} // namespace oe
