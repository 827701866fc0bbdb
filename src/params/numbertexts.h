#pragma once

#include "parameterset.h"

#include <QString>

namespace oe {

// Raw steps behind a seconds text: pump times count 20 ms, pauses 25 ms.
enum class SecondsUnit { Steps20ms, Steps25ms };

// The integer in decimal digits, no grouping; a negative value (map files can hold one) keeps its "-".
QString plainNumberText(qint64 value);

// raw × 0.02 s or raw × 0.025 s rounded to hundredths (an exact half goes to the even hundredth), in
// its shortest form with the default locale's decimal separator, then " s": 25 -> "0.5 s".
QString secondsText(qint64 raw, SecondsUnit unit);

// The live pump pause as the readings show it: its seconds while the engine turns, "Err!" at engine
// speed 0, where the controller's pause counts nothing. The window, oe-cli info and watch show this.
QString pauseReadingText(qint64 rpm, qint64 pause);

// plainNumberText followed by "%".
QString percentText(qint64 value);

// The text a parameter's label shows for a raw value.
QString displayText(ParameterIndex index, qint32 value);

} // namespace oe
