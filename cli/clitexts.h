#pragma once

#include "session.h"

#include <QString>

#include <array>

// Texts oe-cli's commands share.
namespace oe {

// The parameter's name as map files and oe-cli's arguments spell it.
QString paramKey(ParameterIndex index);
// The window's caption for why a port did not open, or for a silent controller.
int connectFailureEntry(const ConnectFailure &failure);
// %1 and %2 replaced in one pass, so a device path or a system text holding a % sign stays as it is.
QString fillIn(const QString &text, const QString &a1, const QString &a2);
const char *openErrorName(PortOpenError error);
QString versionText(const std::array<quint8, 3> &v);

} // namespace oe
