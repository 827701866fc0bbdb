#pragma once

#include <QList>
#include <QString>

namespace oe {

// A serial port the system knows of (QSerialPortInfo's list).
struct SystemPort {
    QString device;      // Linux: the absolute path, /dev/ttyUSB0; Windows: the name, COM3
    QString description; // as the driver gives it: "FT232R USB UART", "USB Serial Port"
    bool usbAdapter = false;
};

// Where one of COM1 to COM15 leads.
struct ComPortInfo {
    int comPort = 0;
    QString device;      // what opening the port opens (a link's target, never followed further)
    QString description; // the system's description of that device, when it has one
    bool present = false; // the device exists and is a port the system lists, or a linked device
    bool linked = false;  // Linux: through <program folder>/ports/COMn
    bool dangling = false; // the link's target is gone
};

constexpr int kLowestComPort = 1;
constexpr int kHighestComPort = 15;
// A USB adapter is offered the lowest free number from here: COM1 and COM2 are the built-in ports.
constexpr int kFirstAdapterComPort = 3;

// The system's serial ports as QSerialPortInfo lists them. Ptys and links are not among them.
QList<SystemPort> systemSerialPorts();

// COM1 to COM15, in order. Linux: a ports/COMn link leads where it points (present when its target
// exists); otherwise /dev/ttyS<n-1> is present when the system lists it, which it does only for
// ports with hardware behind them. Windows: the system's COMn.
QList<ComPortInfo> listComPorts(const QString &programFolder);
QList<ComPortInfo> listComPorts(const QString &programFolder, const QList<SystemPort> &system);

// USB adapters that no ports/COMn link leads to (Linux; always empty elsewhere).
QList<SystemPort> unlinkedUsbAdapters(const QList<ComPortInfo> &ports, const QList<SystemPort> &system);
// The lowest COM number from 3 to 15 with nothing at ports/COMn, not even a dangling link; 0 if none.
int freeAdapterComPort(const QString &programFolder);
// Makes ports/COM<comPort> lead to the device. Never replaces anything already there.
bool makePortLink(const QString &programFolder, int comPort, const QString &device, QString *error);

} // namespace oe
