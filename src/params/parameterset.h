#pragma once

#include <QtGlobal>

namespace oe {

// The controller's code for each tunable parameter; it travels in read and write frames and orders
// the lines of map files.
enum class ParameterIndex : quint8 {
    MinPumpCycles = 0,
    MaxPumpCycles,
    RpmMin,
    TinjMin,
    TinjMax,
    MinLoadPumpPause,
    MaxLoadPumpPause,
    RpmMultiplier,
};

inline constexpr int kParameterCount = 8;

// True for the codes 0 to 7; anything else names no parameter.
constexpr bool isParameterIndex(int code) { return code >= 0 && code < kParameterCount; }

// The eight parameters in the controller's own units (pump times in 20 ms steps, pauses in 25 ms
// steps, RpmMultiplier in percent, the others unscaled).
struct ParameterSet {
    qint32 MinPumpCycles = 0;
    qint32 MaxPumpCycles = 0;
    qint32 RpmMin = 0;
    qint32 TinjMin = 0;
    qint32 TinjMax = 0;
    qint32 MinLoadPumpPause = 0;
    qint32 MaxLoadPumpPause = 0;
    qint32 RpmMultiplier = 0;

    qint32 &operator[](ParameterIndex index);
    qint32 operator[](ParameterIndex index) const;

    friend bool operator==(const ParameterSet &, const ParameterSet &) = default;
};

} // namespace oe
