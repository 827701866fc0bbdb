#pragma once

#include "captiontable.h"

namespace oe {

// A port caption with %1, %2 and %3 filled (the caption table's one filler).
inline QString fillPortText(const QString &text, const QString &a1, const QString &a2 = {}, const QString &a3 = {})
{
    return fillPlaceholders(text, {a1, a2, a3});
}

} // namespace oe
