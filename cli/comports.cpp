#include "comports.h"

#include "portpath.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace oe {

QList<CliComPort> cliComPorts(const QString &programFolder)
{
    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    QList<CliComPort> ports;
    for (int n = 1; n <= 15; ++n) {
        CliComPort port;
        port.comPort = n;
        port.device = resolvePortDevice(n, programFolder);
        const QFileInfo link(QDir(programFolder).filePath(QStringLiteral("ports/COM%1").arg(n)));
        if (link.isSymLink()) {
            // Read where the link points, never open it: a dangling link is only reported.
            const QString target = link.symLinkTarget();
            port.present = QFileInfo::exists(target);
            port.description = port.present ? QStringLiteral("ports/COM%1 -> %2").arg(n).arg(target)
                                            : QStringLiteral("ports/COM%1 -> %2 (missing)").arg(n).arg(target);
        }
        if (!link.isSymLink()) {
            for (const QSerialPortInfo &info : system) {
                if (info.systemLocation() == port.device || info.portName() == port.device) {
                    port.present = true;
                    port.description = info.description().isEmpty() ? info.manufacturer() : info.description();
                }
            }
        }
        ports.append(port);
    }
    return ports;
}

} // namespace oe
