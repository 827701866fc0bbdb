#pragma once

#include "session.h"

#include <QString>

#include <functional>
#include <optional>

namespace oe {

// What the box of a failed connect says: the main text, and the reason below it.
struct ConnectFailureText {
    QString text;
    QString details;
};

// The main text names what failed (no port chosen, a port that could not be opened, a controller that
// did not answer); the details say why, with the port and the device it leads to. caption gives an
// entry's text in the language in use.
ConnectFailureText connectFailureText(const ConnectFailure &failure, const std::function<QString(int)> &caption);

// Who may open a device: its owner and group ("root:tty") and its mode in octal ("620"). Nothing
// where the system has no such thing or the device cannot be looked at.
struct DeviceAccess {
    QString ownerAndGroup;
    QString group;
    QString mode;
};
std::optional<DeviceAccess> deviceAccess(const QString &device);

} // namespace oe
