#pragma once

#include <QList>
#include <QString>

namespace oe {

// What COM1..COM15 lead to. Stands in until the link layer has a port catalog of its own.
struct CliComPort {
    int comPort = 0;
    QString device;      // what opening COMn opens
    QString description; // the adapter's, or why the port leads nowhere
    bool present = false;
};

QList<CliComPort> cliComPorts(const QString &programFolder);

} // namespace oe
