#include "connecttexts.h"

#include "captiontable.h"
#include "deviceaccess.h"
#include "maptexts.h"

namespace oe {

ConnectFailureText connectFailureText(const ConnectFailure &failure, const std::function<QString(int)> &caption)
{
    if (failure.comPort < 1)
        return {caption(Caption::NoPortSelected), caption(Caption::ChoosePort)};
    // The port as the user chose it, and the device it leads to when that has another name.
    const QString name = QStringLiteral("COM%1").arg(failure.comPort);
    const QString port = failure.device.isEmpty() || failure.device == name
                             ? name
                             : QStringLiteral("%1 (%2)").arg(name, failure.device);
    if (failure.kind == ConnectFailure::Kind::NoAnswer) {
        // Bytes without a reply in them point at the line rather than at a missing controller.
        const int entry = failure.bytesReceived ? Caption::NoValidReply : Caption::NoIdentification;
        return {caption(Caption::ConnectFailed), fillPlaceholders(caption(entry), {port})};
    }
    QStringList args{port, failure.systemText};
    int entry = Caption::PortOtherError;
    switch (failure.openError) {
    case PortOpenError::NotFound: entry = Caption::PortNotFound; break;
    case PortOpenError::InUse: entry = Caption::PortInUse; break;
    case PortOpenError::NoPermission: {
        // The dialout group's advice only where joining it opens the device; else who may give access.
        if (const auto access = accessBeyondSerialGroup(failure.device)) {
            entry = Caption::PortNotYours;
            args = {port, failure.device, access->ownerAndGroup, access->mode};
        } else {
            entry = Caption::PortNoPermission;
        }
        break;
    }
    case PortOpenError::NotATty: entry = Caption::PortNotATty; break;
    case PortOpenError::None:
    case PortOpenError::Other: break;
    }
    return {caption(Caption::PortNotOpened), fillPlaceholders(caption(entry), args)};
}

} // namespace oe
