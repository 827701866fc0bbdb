#include "valuetexts.h"

#include "maptexts.h"

#include <QStringList>

namespace oe {

namespace {

QString entry(int number, const CaptionTable &table, const QStringList &args)
{
    QString text = table.text(number);
    if (text.isEmpty())
        text = builtInValueCaption(number);
    return fillPlaceholders(text, args);
}

} // namespace

QString builtInValueCaption(int entry)
{
    switch (entry) {
    case Caption::ValueNotANumber: return QStringLiteral("'%1' is not a number");
    case Caption::ValueOutsideWire: return QStringLiteral("%1 is outside 0 to 65535: the controller cannot hold it");
    case Caption::ValueBeyondSlider: return QStringLiteral("%1: beyond the slider's %2");
    case Caption::ValuePartnerUnknown: return QStringLiteral("%1 was not read: the pair cannot be checked");
    case Caption::ValueRounded: return QStringLiteral("%1 → %2: rounded to a whole number");
    case Caption::ValueStepped: return QStringLiteral("%1: %2 moves in steps of %3");
    case Caption::ValueHeld: return QStringLiteral("%1: %2 may not pass %3");
    case Caption::MapAlreadyMatches: return QStringLiteral("The controller already matches the file: nothing was written.");
    default: return QString();
    }
}

QString valueVerdictText(const ValueVerdict &v, const CaptionTable &table, const ValueWords &words)
{
    using Refusal = ValueVerdict::Refusal;
    const SliderRange range = sliderRange(v.index);
    const auto beyond = [&] {
        const qint32 end = v.number < range.min ? range.min : range.max;
        return entry(Caption::ValueBeyondSlider, table, {words.value(v.index, v.number), words.value(v.index, end)});
    };
    switch (v.refusal) {
    case Refusal::NotANumber: return entry(Caption::ValueNotANumber, table, {v.text});
    case Refusal::OutsideWire: return entry(Caption::ValueOutsideWire, table, {v.text});
    case Refusal::BeyondSlider: return beyond();
    case Refusal::PartnerUnknown: return entry(Caption::ValuePartnerUnknown, table, {words.name(*pairPartner(v.index))});
    case Refusal::None: break;
    }
    // The change that decided the value written; a value held by its partner may also have been
    // stepped or rounded on its way, which no longer matters.
    const QString written = words.value(v.index, v.value);
    if (v.heldBy)
        return entry(Caption::ValueHeld, table, {written, words.name(v.index), words.name(*v.heldBy)});
    if (v.stepped)
        return entry(Caption::ValueStepped, table, {written, words.name(v.index), words.value(v.index, range.step)});
    if (v.rounded && v.beyondSlider)
        return entry(Caption::ValueRounded, table, {v.text, written}) + QStringLiteral("; ") + beyond();
    if (v.rounded)
        return entry(Caption::ValueRounded, table, {v.text, written});
    if (v.beyondSlider)
        return beyond();
    return QString();
}

} // namespace oe
