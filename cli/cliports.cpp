// ports: what COM1 to COM15 lead to.
#include "clirunner.h"

#include "deviceaccess.h"
#include "portcatalog.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace oe {

namespace {

// Whether this user may open the device for reading and writing. Windows says so only by opening
// it, which a listing must not do: there every present port counts as openable.
bool userMayOpen(const QString &device)
{
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    return true;
#else
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#endif
}

} // namespace

void CliRunner::listPorts()
{
    QJsonArray list;
    const QList<SystemPort> system = systemSerialPorts();
    const QList<ComPortInfo> ports = listComPorts(m_programFolder, system);
    const auto row = [](const QString &port, const QString &device, const QString &present, const QString &access,
                        const QString &description) {
        return QStringLiteral("%1 %2 %3 %4 %5").arg(port, -5).arg(device, -28).arg(present, -8).arg(access, -14).arg(description).trimmed();
    };
    out(row(caption(CliWord::PortsHeadPort), caption(CliWord::PortsHeadDevice), caption(CliWord::PortsHeadPresent),
            caption(CliWord::PortsHeadAccess), caption(CliWord::PortsHeadDescription)));
    QStringList beyondGroup; // refused devices the dialout group cannot open
    bool groupHelps = false;
    for (const ComPortInfo &port : ports) {
        const QString state = caption(port.dangling ? CliWord::PortLinkGone
                                      : port.present ? CliWord::PortPresent
                                                     : CliWord::PortAbsent);
        const bool mayOpen = port.present && userMayOpen(port.device);
        QJsonObject json{{QStringLiteral("port"), QStringLiteral("COM%1").arg(port.comPort)},
                         {QStringLiteral("device"), port.device},
                         {QStringLiteral("present"), port.present},
                         {QStringLiteral("linked"), port.linked},
                         {QStringLiteral("dangling"), port.dangling},
                         {QStringLiteral("description"), port.description}};
        if (port.present)
            json.insert(QStringLiteral("userMayOpen"), mayOpen);
        if (port.present && !mayOpen) {
            const auto access = accessBeyondSerialGroup(port.device);
            json.insert(QStringLiteral("dialoutHelps"), !access);
            groupHelps = groupHelps || !access;
            if (access)
                beyondGroup << caption(CliWord::PortsBeyondGroup)
                                   .arg(port.comPort)
                                   .arg(port.device, access->ownerAndGroup, access->mode);
        }
        list.append(json);
        // A port this user may not open: the usual fix is the dialout group, said below the list
        // only where it opens the device.
        const QString access = !port.present ? QString()
                               : mayOpen     ? caption(CliWord::PortMayOpen)
                                             : caption(CliWord::PortNoPermission);
        out(row(QStringLiteral("COM%1").arg(port.comPort), port.device, state, access, port.description));
    }
    if (groupHelps)
        out(caption(CliWord::PortsJoinGroup));
    for (const QString &line : std::as_const(beyondGroup))
        out(line);
    m_json.insert(QStringLiteral("ports"), list);
    // An adapter the window would offer a COM number for: a script sees it here too.
    QJsonArray adapters;
    for (const SystemPort &adapter : unlinkedUsbAdapters(ports, system)) {
        adapters.append(QJsonObject{{QStringLiteral("device"), adapter.device},
                                    {QStringLiteral("description"), adapter.description}});
        out(caption(CliWord::PortsUnlinkedAdapter).arg(adapter.device, adapter.description).trimmed());
    }
    m_json.insert(QStringLiteral("unlinkedAdapters"), adapters);
    finish(CliExit::Done);
}

} // namespace oe
