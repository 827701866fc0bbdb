// ports: what COM1 to COM15 lead to.
#include "clirunner.h"

#include "portcatalog.h"

namespace oe {

void CliRunner::listPorts()
{
    QJsonArray list;
    const QList<SystemPort> system = systemSerialPorts();
    const QList<ComPortInfo> ports = listComPorts(m_programFolder, system);
    for (const ComPortInfo &port : ports) {
        QString state = port.present ? QStringLiteral("yes") : QStringLiteral("no");
        if (port.dangling)
            state = QStringLiteral("no, the link's target is gone");
        list.append(QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(port.comPort)},
                                {QStringLiteral("device"), port.device},
                                {QStringLiteral("present"), port.present},
                                {QStringLiteral("linked"), port.linked},
                                {QStringLiteral("dangling"), port.dangling},
                                {QStringLiteral("description"), port.description}});
        out(QStringLiteral("COM%1 %2 %3 %4")
                .arg(port.comPort, -2)
                .arg(port.device, -28)
                .arg(state)
                .arg(port.description.isEmpty() ? QString() : QStringLiteral("– ") + port.description)
                .trimmed());
    }
    m_json.insert(QStringLiteral("ports"), list);
    // An adapter the window would offer a COM number for: a script sees it here too.
    QJsonArray adapters;
    for (const SystemPort &adapter : unlinkedUsbAdapters(ports, system)) {
        adapters.append(QJsonObject{{QStringLiteral("device"), adapter.device},
                                    {QStringLiteral("description"), adapter.description}});
        out(QStringLiteral("USB adapter without a ports/ link: %1 %2").arg(adapter.device, adapter.description).trimmed());
    }
    m_json.insert(QStringLiteral("unlinkedAdapters"), adapters);
    finish(CliExit::Done);
}

} // namespace oe
