#include "enginemodel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace oe {

namespace {

struct Range {
    int min;
    int max;
    int step;
};

constexpr std::array<Range, simparam::Count> kSliderRanges = {{
    {1, 50, 1},       // MinPumpCycles
    {2, 50, 1},       // MaxPumpCycles
    {0, 6000, 50},    // RpmMin
    {50, 30000, 50},  // TinjMin
    {50, 30000, 50},  // TinjMax
    {80, 2400, 1},    // MinLoadPumpPause
    {80, 2400, 1},    // MaxLoadPumpPause
    {50, 200, 10},    // RpmMultiplier
}};

// Half a cosine: 0 at 0, 1 at 1, with no jumps in speed at either end.
double ease(double x)
{
    return 0.5 - 0.5 * std::cos(std::numbers::pi * std::clamp(x, 0.0, 1.0));
}

quint16 toWire(double value)
{
    return quint16(std::clamp(std::lround(value), 0L, 65535L));
}

} // namespace

SimParameters defaultSimParameters()
{
    SimParameters p{};
    p[simparam::MinPumpCycles] = 5;       // 0.1 s
    p[simparam::MaxPumpCycles] = 15;      // 0.3 s
    p[simparam::RpmMin] = 600;             // below idle, so the pump runs from idle on
    p[simparam::TinjMin] = 1500;
    p[simparam::TinjMax] = 9000;
    p[simparam::MinLoadPumpPause] = 160;  // 4 s
    p[simparam::MaxLoadPumpPause] = 80;   // 2 s
    p[simparam::RpmMultiplier] = 100;
    return p;
}

SimParameters randomSimParameters(std::mt19937 &random)
{
    SimParameters p{};
    for (int i = 0; i < simparam::Count; ++i) {
        const Range r = kSliderRanges[size_t(i)];
        std::uniform_int_distribution<int> steps(0, (r.max - r.min) / r.step);
        p[size_t(i)] = quint16(r.min + steps(random) * r.step);
    }
    const auto order = [&p](int low, int high) {
        if (p[size_t(low)] > p[size_t(high)])
            std::swap(p[size_t(low)], p[size_t(high)]);
    };
    order(simparam::MinPumpCycles, simparam::MaxPumpCycles);
    order(simparam::TinjMin, simparam::TinjMax);
    order(simparam::MaxLoadPumpPause, simparam::MinLoadPumpPause);
    // MaxPumpCycles starts at 2: a drawn 1 may have moved there.
    if (p[simparam::MaxPumpCycles] < 2)
        p[simparam::MaxPumpCycles] = 2;
    return p;
}

quint16 clampToSliderRange(int index, int value)
{
    if (index < 0 || index >= simparam::Count)
        return quint16(std::clamp(value, 0, 65535));
    const Range r = kSliderRanges[size_t(index)];
    const int clamped = std::clamp(value, r.min, r.max);
    return quint16(clamped / r.step * r.step);
}

double EngineModel::throttle(qint64 ms)
{
    // Idle 5 s, rev up 3 s, hold 2 s, drop back 3 s, idle 3 s.
    const double t = double(((ms % kCycleMs) + kCycleMs) % kCycleMs) / 1000.0;
    if (t < 5.0)
        return 0.0;
    if (t < 8.0)
        return ease((t - 5.0) / 3.0);
    if (t < 10.0)
        return 1.0;
    if (t < 13.0)
        return 1.0 - ease((t - 10.0) / 3.0);
    return 0.0;
}

EngineReading EngineModel::sample(qint64 ms)
{
    const double th = throttle(ms);
    // A slight unevenness so that idle does not look frozen.
    const double wobble = 15.0 * std::sin(2.0 * std::numbers::pi * double(ms) / 1300.0);
    EngineReading r;
    r.rpm = toWire(kIdleRpm + th * (kPeakRpm - kIdleRpm) + wobble);
    r.tinj = toWire(kIdleTinj + th * (kPeakTinj - kIdleTinj));
    return r;
}

quint16 reportedRpm(const SimParameters &params, quint16 measuredRpm)
{
    return toWire(double(measuredRpm) * params[simparam::RpmMultiplier] / 100.0);
}

PumpTiming pumpTiming(const SimParameters &params, int rpm, int tinj)
{
    if (rpm <= params[simparam::RpmMin])
        return {};
    const int lo = params[simparam::TinjMin];
    const int hi = params[simparam::TinjMax];
    double load;
    if (hi > lo)
        load = std::clamp(double(tinj - lo) / double(hi - lo), 0.0, 1.0);
    else
        load = tinj >= hi ? 1.0 : 0.0;  // thresholds crossed over by a map file: a step, not a division by 0
    const auto between = [load](int a, int b) { return toWire(a + load * (b - a)); };
    return {between(params[simparam::MinPumpCycles], params[simparam::MaxPumpCycles]),
            between(params[simparam::MinLoadPumpPause], params[simparam::MaxLoadPumpPause])};
}

} // namespace oe
