#pragma once

#include <QString>

namespace oe {

// The device behind COM<comPort>. On Windows its device name \\.\COM<n>; elsewhere the absolute
// path of <programFolder>/ports/COM<n> when that link exists (a USB adapter or a simulator's pty),
// else the n-th built-in serial port /dev/ttyS<n-1>.
QString resolvePortDevice(int comPort, const QString &programFolder);

} // namespace oe
