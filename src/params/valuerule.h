#pragma once

// The one rule for a parameter's value. Whatever a technician gives the program for a parameter (a
// slider position, a typed value, a map file's line, an oe-cli argument) is judged here and nowhere
// else: is it a clean number, does it fit the write frame, does it lie in the slider's range, what
// the slider's step makes of it, what the pair rule makes of it against its partner. The verdict
// names what changed and why, so no caller changes a value without saying so.

#include "mapfile.h"
#include "parameterset.h"

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace oe {

// ---- The slider's scale

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

// What the slider can reach, in the controller's units: from min to max in steps of step.
struct SliderRange {
    qint32 min, max, step;
};
SliderRange sliderRange(ParameterIndex index);

// The same range on the slider's own scale (the multiplier's slider counts tens).
struct SliderPositions {
    int min, max, step;
};
SliderPositions sliderPositions(ParameterIndex index);

// ---- The pair rule

// The partner a parameter is held to, or nothing for the two without one.
std::optional<ParameterIndex> pairPartner(ParameterIndex index);

// Whether value may stand beside the partner's value: pump and injection-time maxima at or above
// their minima; the pause pair the other way round (the pause at maximum load is never longer than at
// minimum load). Equal values always hold. True for a parameter without a partner.
bool pairHolds(ParameterIndex index, qint32 value, qint32 partnerValue);

// ---- The verdict

// The 16-bit field of a write frame: nothing outside it can be sent at all.
inline constexpr qint32 kWireMin = kMapMinValue;
inline constexpr qint32 kWireMax = kMapMaxValue;

// What the caller applies besides the clean number and the wire, which always apply.
struct ValueContext {
    // A slider or the value editor: the value moves onto the slider's step. A map file or a command
    // takes a value exactly as given.
    bool sliderStep = false;
    // A map file, or a command told so: a value off the slider's range stands, marked beyondSlider.
    // Otherwise it is refused.
    bool allowBeyondSlider = false;
    // Judge the pair against partnerValue (what the controller holds for the partner, or the value
    // given for it in the same command); without a value the partner is unknown and the value is
    // refused (PartnerUnknown). Off for a map file, whose pairs are judged within the file.
    bool pairCheck = false;
    std::optional<qint32> partnerValue;
};

struct ValueVerdict {
    enum class Refusal {
        None,
        NotANumber,     // the text is not a clean number
        OutsideWire,    // rounds to outside 0 to 65535
        BeyondSlider,   // outside the slider's range and the context does not allow it
        PartnerUnknown, // the pair cannot be judged: the partner's value is not known
    };
    ParameterIndex index{};
    Refusal refusal = Refusal::None;
    QString text;              // what was given, without surrounding blanks
    // The given value rounded to the nearest whole number, halves to even (past NotANumber and
    // OutsideWire).
    qint32 number = 0;
    bool rounded = false;      // the given value had a fraction, which rounding dropped
    bool beyondSlider = false; // number lies outside sliderRange (refused unless allowed)
    bool stepped = false;      // the slider's step moved the value
    std::optional<ParameterIndex> heldBy; // the pair rule held the value at this partner's
    qint32 value = 0;          // what is written, when accepted

    bool accepted() const { return refusal == Refusal::None; }
    // Accepted, but what is written is not exactly what was given.
    bool changed() const { return accepted() && (rounded || value != number); }
};

// A value as typed or read from a file: blanks around it, an optional sign, digits, an optional
// decimal part (readCleanNumber); anything else is NotANumber.
ValueVerdict judgeValue(ParameterIndex index, QStringView text, const ValueContext &context);
// A value already a number (a slider position's field, a converted display value).
ValueVerdict judgeValue(ParameterIndex index, double given, const ValueContext &context);

// ---- A map file's values

struct MapCheck {
    bool ok = false;
    MapFileError refusal{}; // when !ok: the first crossed pair (Kind::CrossedPair)
    // Each of the eight lines judged exactly as given (no step, no pair against the controller,
    // beyond the slider allowed and marked): rounded and beyondSlider say what to show.
    std::array<ValueVerdict, kParameterCount> values{};

    bool anyBeyondSlider() const;
};

// The values of a map file parseMap accepted, judged by the rule: the three pairs must stand as
// the sliders keep them.
MapCheck checkMap(const MapReadResult &map);

} // namespace oe
