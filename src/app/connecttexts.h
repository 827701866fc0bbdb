#pragma once

#include "session.h"

#include <QString>

#include <functional>

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

} // namespace oe
