#pragma once

#include <QSerialPort>

namespace oe {

// Line settings of the controller's serial port. They never change at run time; only the port number
// is chosen by the user. DTR and RTS stay asserted, as the port driver leaves them on open: the
// controller ignores them and some USB adapters power their level shifters from them. The port's
// buffers are left to the driver and QSerialPort (unbounded), so a burst of junk never stalls a
// reply; with no parity there is no parity-error byte to replace.
struct SerialSettings {
    static constexpr qint32 kBaudRate = 9600;
    static constexpr QSerialPort::DataBits kDataBits = QSerialPort::Data8;
    static constexpr QSerialPort::Parity kParity = QSerialPort::NoParity;
    static constexpr QSerialPort::StopBits kStopBits = QSerialPort::OneStop;
    static constexpr QSerialPort::FlowControl kFlowControl = QSerialPort::NoFlowControl;
};

} // namespace oe
