#pragma once

#include <QString>

namespace oe {

// English texts of the port entries (PortNotFound to LinkDangling), for a language file that lacks
// them; empty for any other entry.
QString builtInPortCaption(int entry);

// The text with %1, %2 and %3 replaced in one pass, so a device path or a system message that itself
// holds a % sign is shown as it is.
QString fillPortText(const QString &text, const QString &a1, const QString &a2 = {}, const QString &a3 = {});

} // namespace oe
