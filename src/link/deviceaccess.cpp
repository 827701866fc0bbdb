#include "deviceaccess.h"

#include <QFile>
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
    const bool groupRw = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    return DeviceAccess{owner + u':' + group, group, QString::number(st.st_mode & 07777, 8), groupRw};
#else
    Q_UNUSED(device);
    return std::nullopt;
#endif
}

std::optional<DeviceAccess> accessBeyondSerialGroup(const QString &device)
{
    // A pty another user made, a device an administrator locked down: only its owner can help.
    const auto access = deviceAccess(device);
    if (!access || (access->group == u"dialout" && access->groupReadsAndWrites))
        return std::nullopt;
    return access;
}

} // namespace oe
