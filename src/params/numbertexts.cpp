#include "numbertexts.h"

#include <QLocale>

namespace oe {

namespace {

// Whole seconds and hundredths, rounded half to even. The arithmetic stays on integers so that exact
// halves (0.025 s steps) are recognised as such; splitting off whole seconds first keeps any 64-bit
// magnitude from overflowing.
struct Seconds {
    quint64 whole;
    quint64 hundredths;
};

Seconds toSeconds(quint64 raw, SecondsUnit unit)
{
    if (unit == SecondsUnit::Steps20ms)
        return {raw / 50, (raw % 50) * 2};
    const quint64 twice = (raw % 40) * 5; // hundredths × 2, below 200
    quint64 hundredths = twice / 2;
    if (twice % 2 != 0 && hundredths % 2 != 0)
        ++hundredths; // at most 98: no carry into the seconds
    return {raw / 40, hundredths};
}

} // namespace

QString plainNumberText(qint64 value)
{
    return QString::number(value);
}

QString pauseReadingText(qint64 rpm, qint64 pause)
{
    return rpm != 0 ? secondsText(pause, SecondsUnit::Steps25ms) : QStringLiteral("Err!");
}

QString secondsText(qint64 raw, SecondsUnit unit)
{
    const bool negative = raw < 0;
    // Magnitude through unsigned arithmetic so that the most negative value has one too.
    const quint64 magnitude = negative ? quint64(0) - quint64(raw) : quint64(raw);
    const Seconds seconds = toSeconds(magnitude, unit);
    const quint64 fraction = seconds.hundredths;
    QString text;
    if (negative && (seconds.whole != 0 || fraction != 0))
        text += QLatin1Char('-');
    text += QString::number(seconds.whole);
    if (fraction != 0) {
        text += QLocale().decimalPoint();
        if (fraction % 10 == 0)
            text += QString::number(fraction / 10);
        else
            text += QString::number(fraction).rightJustified(2, QLatin1Char('0'));
    }
    return text + QLatin1String(" s");
}

QString percentText(qint64 value)
{
    return plainNumberText(value) + QLatin1Char('%');
}

QString displayText(ParameterIndex index, qint32 value)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles:
    case ParameterIndex::MaxPumpCycles:
        return secondsText(value, SecondsUnit::Steps20ms);
    case ParameterIndex::MinLoadPumpPause:
    case ParameterIndex::MaxLoadPumpPause:
        return secondsText(value, SecondsUnit::Steps25ms);
    case ParameterIndex::RpmMin:
    case ParameterIndex::TinjMin:
    case ParameterIndex::TinjMax:
        return plainNumberText(value);
    case ParameterIndex::RpmMultiplier:
        return percentText(value);
    }
    return plainNumberText(value);
}

} // namespace oe
