#pragma once

#include <QSerialPort>

namespace oe {

// Line settings of the controller's serial port. They never change at run time; only the port number
// is chosen by the user. DTR and RTS stay asserted, as the port driver leaves them on open: the
// controller ignores them and some USB adapters power their level shifters from them.
struct SerialSettings {
    static constexpr qint32 kBaudRate = 9600;
    static constexpr QSerialPort::DataBits kDataBits = QSerialPort::Data8;
    static constexpr QSerialPort::Parity kParity = QSerialPort::NoParity;
    static constexpr QSerialPort::StopBits kStopBits = QSerialPort::OneStop;
    static constexpr QSerialPort::FlowControl kFlowControl = QSerialPort::NoFlowControl;
    static constexpr qint64 kReceiveBufferBytes = 1024;
    static constexpr qint64 kTransmitBufferBytes = 512;
    static constexpr char kParityReplacement = '?';
};

} // namespace oe
