#pragma once

#include <QString>

namespace oe {

// The text with %1, %2 and %3 replaced in one pass, so a device path or a system message that itself
// holds a % sign is shown as it is.
QString fillPortText(const QString &text, const QString &a1, const QString &a2 = {}, const QString &a3 = {});

} // namespace oe
