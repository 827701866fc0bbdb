#pragma once

#include <QString>

#include <optional>

namespace oe {

// Who may open a device: its owner and group ("root:tty") and its mode in octal ("620"). Nothing
// where the system has no such thing or the device cannot be looked at.
struct DeviceAccess {
    QString ownerAndGroup;
    QString group;
    QString mode;
    bool groupReadsAndWrites = false;
};
std::optional<DeviceAccess> deviceAccess(const QString &device);

// For a device this user was refused: who holds it, when joining the serial-port group (dialout)
// would not open it (another group, or a mode that gives the group no reading and writing). Nothing
// when the group is the advice to give, also when the device cannot be looked at.
std::optional<DeviceAccess> accessBeyondSerialGroup(const QString &device);

} // namespace oe
