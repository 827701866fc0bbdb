#pragma once

#include "captiontable.h"
#include "valuerule.h"

#include <QString>

#include <functional>

namespace oe {

// How a caller names a parameter and shows one of its values: the window's captions and labels,
// or oe-cli's keys and plain numbers.
struct ValueWords {
    std::function<QString(ParameterIndex)> name;
    std::function<QString(ParameterIndex, qint32)> value;
};

// One line saying why the value rule refused a value, or what it writes instead of what was given
// and why ("9000: Tinj Min may not pass Tinj Max"); a value off the slider's range but allowed says
// so ("40000: beyond the slider's 30000"). Empty for a value taken exactly as given.
QString valueVerdictText(const ValueVerdict &verdict, const CaptionTable &table, const ValueWords &words);

// English texts of the entries ValueNotANumber to MapAlreadyMatches, for a language file that lacks
// them; empty for any other entry.
QString builtInValueCaption(int entry);

} // namespace oe
