#pragma once

#include <QString>

#include <optional>

namespace oe {

// The program looks for COMn as <program folder>/ports/COMn before anything else; the simulator puts a
// link to its pty there.
inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 15;

// "COM3", "com3" or "3" -> 3, for ports 1 to 15; empty for anything else.
std::optional<int> parseComPort(const QString &text);

// <programFolder>/ports/COMn, absolute.
QString portLinkPath(const QString &programFolder, int comPort);

// Points linkPath at target (an absolute device path), creating the ports folder if needed, and
// records beside it that this process made it (see simlink.h). An existing link is replaced only
// when it points at target or at replaceable (our own earlier line), or when a simulator that has
// gone made it. Anything else there (a user's link, even to a device that is not plugged in, a
// file) is left alone and reported.
bool createPortLink(const QString &linkPath, const QString &target, QString *error,
                    const QString &replaceable = {});

// Removes linkPath and its record if it is still a link to target; someone else's link stays.
bool removePortLink(const QString &linkPath, const QString &target);

} // namespace oe
