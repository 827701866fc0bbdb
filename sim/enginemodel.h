#pragma once

#include <QtGlobal>

#include <array>
#include <random>

namespace oe {

// The controller's eight parameters in their wire order, raw 16-bit values.
namespace simparam {
enum : int {
    MinPumpCycles,
    MaxPumpCycles,
    RpmMin,
    TinjMin,
    TinjMax,
    MinLoadPumpPause,
    MaxLoadPumpPause,
    RpmMultiplier,
    Count
};
} // namespace simparam

using SimParameters = std::array<quint16, simparam::Count>;

// Defaults inside every slider range, on the slider steps, and keeping the three min/max relations.
SimParameters defaultSimParameters();

// Another controller's tune: every value drawn inside its slider range and on its step, the three
// min/max relations kept.
SimParameters randomSimParameters(std::mt19937 &random);

// A parameter value clamped into its slider range and onto its step (multiples of 50 for the
// engine-speed and injection-time thresholds, of 10 for the multiplier).
quint16 clampToSliderRange(int index, int value);

struct EngineReading {
    quint16 rpm = 0;   // as the controller measures it, before its multiplier
    quint16 tinj = 0;  // the vehicle's injection time, in the controller's unit
};

struct PumpTiming {
    quint16 pump = 0;   // 20 ms steps
    quint16 pause = 0;  // 25 ms steps
};

// A car that idles, revs up smoothly, holds, and drops back to idle, over and over. Pure: the same
// time gives the same reading.
class EngineModel
{
public:
    static constexpr qint64 kCycleMs = 16000;
    static constexpr int kIdleRpm = 900;
    static constexpr int kPeakRpm = 4200;
    static constexpr int kIdleTinj = 1000;
    static constexpr int kPeakTinj = 10000;

    // 0 at idle, 1 at full throttle.
    static double throttle(qint64 ms);
    static EngineReading sample(qint64 ms);
};

// The engine speed the controller reports: the measured speed scaled by RpmMultiplier percent.
quint16 reportedRpm(const SimParameters &params, quint16 measuredRpm);

// Pump time and pause for a load given by the injection time: interpolated between TinjMin and TinjMax
// over MinPumpCycles..MaxPumpCycles and MinLoadPumpPause..MaxLoadPumpPause. No pumping (both 0) at
// or below RpmMin.
PumpTiming pumpTiming(const SimParameters &params, int rpm, int tinj);

} // namespace oe
