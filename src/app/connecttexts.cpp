#include "connecttexts.h"

#include "captiontable.h"
#include "maptexts.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace oe {

std::optional<DeviceAccess> deviceAccess(const QString &device)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    if (device.isEmpty() || ::stat(QFile::encodeName(device).constData(), &st) != 0)
        return std::nullopt;
    const QFileInfo info(device);
    const QString owner = info.owner().isEmpty() ? QString::number(st.st_uid) : info.owner();
    const QString group = info.group().isEmpty() ? QString::number(st.st_gid) : info.group();
    return DeviceAccess{owner + u':' + group, group, QString::number(st.st_mode & 07777, 8)};
#else
    Q_UNUSED(device);
    return std::nullopt;
#endif
}

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
        // Joining the dialout group helps only with a device of that group; for any other (a pty
        // another user made, a device an administrator locked down) it says who may give access.
        const auto access = deviceAccess(failure.device);
        if (access && access->group != u"dialout") {
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
