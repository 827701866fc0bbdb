#include "valuerule.h"

#include "lenientnumber.h"
#include "numbertexts.h"

#include <algorithm>
#include <cmath>

namespace oe {

SliderRange sliderRange(ParameterIndex index)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles: return {1, 50, 1};
    case ParameterIndex::MaxPumpCycles: return {2, 50, 1};
    case ParameterIndex::RpmMin: return {0, 6000, 50};
    case ParameterIndex::TinjMin:
    case ParameterIndex::TinjMax: return {50, 30000, 50};
    case ParameterIndex::MinLoadPumpPause:
    case ParameterIndex::MaxLoadPumpPause: return {80, 2400, 1};
    case ParameterIndex::RpmMultiplier: return {50, 200, 10};
    }
    return {0, 0, 1};
}

SliderPositions sliderPositions(ParameterIndex index)
{
    const SliderRange range = sliderRange(index);
    return {positionFromField(index, range.min), positionFromField(index, range.max), positionFromField(index, range.step)};
}

std::optional<ParameterIndex> pairPartner(ParameterIndex index)
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

bool pairHolds(ParameterIndex index, qint32 value, qint32 partnerValue)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles:
    case ParameterIndex::TinjMin:
    case ParameterIndex::MaxLoadPumpPause:
        return value <= partnerValue;
    case ParameterIndex::MaxPumpCycles:
    case ParameterIndex::TinjMax:
    case ParameterIndex::MinLoadPumpPause:
        return value >= partnerValue;
    default:
        return true;
    }
}

namespace {

ValueVerdict judge(ParameterIndex index, QString text, std::optional<double> given, const ValueContext &context)
{
    ValueVerdict v;
    v.index = index;
    v.text = std::move(text);
    if (!given) {
        v.refusal = ValueVerdict::Refusal::NotANumber;
        return v;
    }
    const std::optional<std::int64_t> whole = roundHalfEven(*given, kWireMin, kWireMax);
    if (!whole) {
        v.refusal = ValueVerdict::Refusal::OutsideWire;
        return v;
    }
    v.number = qint32(*whole);
    v.rounded = double(v.number) != *given;
    v.value = v.number;

    const SliderRange range = sliderRange(index);
    v.beyondSlider = v.number < range.min || v.number > range.max;
    if (v.beyondSlider && !context.allowBeyondSlider) {
        v.refusal = ValueVerdict::Refusal::BeyondSlider;
        return v;
    }
    // Down onto the step, as the slider rounds its position; every range starts on its step.
    if (context.sliderStep && !v.beyondSlider && v.value % range.step != 0) {
        v.value -= v.value % range.step;
        v.stepped = true;
    }
    if (context.pairCheck && pairPartner(index)) {
        if (!context.partnerValue) {
            v.refusal = ValueVerdict::Refusal::PartnerUnknown;
            return v;
        }
        // Held at the partner's value itself, even when that lies off the step: the step's value
        // below it would cross the pair for a maximum.
        if (!pairHolds(index, v.value, *context.partnerValue)) {
            v.value = *context.partnerValue;
            v.heldBy = pairPartner(index);
        }
    }
    return v;
}

} // namespace

ValueVerdict judgeValue(ParameterIndex index, QStringView text, const ValueContext &context)
{
    const QStringView trimmed = text.trimmed();
    return judge(index, trimmed.toString(), readCleanNumber(trimmed), context);
}

ValueVerdict judgeValue(ParameterIndex index, double given, const ValueContext &context)
{
    const bool whole = std::isfinite(given) && given == std::trunc(given) && std::abs(given) < 1e15;
    const QString text = whole ? plainNumberText(qint64(given)) : QString::number(given, 'g', 12);
    return judge(index, text, std::isfinite(given) ? std::optional<double>(given) : std::nullopt, context);
}

bool MapCheck::anyBeyondSlider() const
{
    return std::any_of(values.cbegin(), values.cend(), [](const ValueVerdict &v) { return v.beyondSlider; });
}

MapCheck checkMap(const MapReadResult &map)
{
    MapCheck check;
    ValueContext exact;
    exact.allowBeyondSlider = true;
    ParameterSet set;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        check.values[size_t(i)] = i < map.valueTexts.size() ? judgeValue(index, map.valueTexts[i], exact)
                                                            : judgeValue(index, double(map.values[size_t(i)]), exact);
        // parseMap took the same clean number and the same rounding; its value is the file's.
        set[index] = map.values[size_t(i)];
    }
    // Reported on the pair's second line, in line order.
    for (const auto &[first, second] : {std::pair{ParameterIndex::MinPumpCycles, ParameterIndex::MaxPumpCycles},
                                       std::pair{ParameterIndex::TinjMin, ParameterIndex::TinjMax},
                                       std::pair{ParameterIndex::MinLoadPumpPause, ParameterIndex::MaxLoadPumpPause}}) {
        const qint32 a = set[first], b = set[second];
        if (!pairHolds(first, a, b)) {
            check.refusal = {MapFileError::Kind::CrossedPair, int(second) + 1,
                             QStringLiteral("%1 %2 %3 %4 %5")
                                 .arg(mapFileKey(int(first)), plainNumberText(a),
                                      a > b ? QStringLiteral(">") : QStringLiteral("<"), mapFileKey(int(second)),
                                      plainNumberText(b))};
            return check;
        }
    }
    check.ok = true;
    return check;
}

} // namespace oe
