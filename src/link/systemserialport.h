#pragma once

#include <QtGlobal>

// The serial port class for real hardware on this platform: Win32 on Windows (QtSerialPort is not
// available for the Windows build), QSerialPort elsewhere.
#ifdef Q_OS_WIN
#include "winserialport.h"
namespace oe {
using SystemSerialPort = WinSerialPort;
}
#else
#include "qtserialport.h"
namespace oe {
using SystemSerialPort = QtSerialPort;
}
#endif
