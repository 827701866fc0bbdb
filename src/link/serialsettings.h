#pragma once

#include <QtGlobal>

namespace oe {

// Line settings of the controller's serial port: 9600 baud, 8 data bits, no parity, one stop bit, no
// flow control. They never change at run time; only the port number is chosen by the user. DTR and
// RTS stay asserted, as the port driver leaves them on open: the controller ignores them and some USB
// adapters power their level shifters from them. The port's buffers are left to the driver and the
// port class, so a burst of junk never stalls a reply; with no parity there is no parity-error byte
// to replace. Each port class maps these onto its own API.
struct SerialSettings {
    static constexpr qint32 kBaudRate = 9600;
    static constexpr int kDataBits = 8;
    static constexpr bool kParity = false;
    static constexpr int kStopBits = 1;
    static constexpr bool kFlowControl = false;
};

} // namespace oe
