#include "portcatalog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <QSerialPortInfo>
#endif

#include <algorithm>
#include <iterator>

namespace oe {

namespace {

QString linkPath(const QString &programFolder, int comPort)
{
    return QDir(programFolder).absoluteFilePath(QStringLiteral("ports/COM%1").arg(comPort));
}

// Two names of one device compare equal: a link may name /dev/serial/by-id/... for /dev/ttyUSB0.
QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

const SystemPort *findSystemPort(const QList<SystemPort> &system, const QString &device)
{
    const QString wanted = canonical(device);
    for (const SystemPort &port : system)
        if (canonical(port.device) == wanted)
            return &port;
    return nullptr;
}

} // namespace

#ifdef Q_OS_WIN
// Windows lists its serial ports under HARDWARE\DEVICEMAP\SERIALCOMM: the value names the driver's
// device (\Device\Serial0, \Device\VCP0 for a USB adapter), the data the port (COM3).
QList<SystemPort> systemSerialPorts()
{
    QList<SystemPort> ports;
    HKEY key = nullptr;
    const wchar_t *path = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[64];
        DWORD nameLength = DWORD(std::size(name));
        DWORD dataBytes = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataBytes / sizeof(wchar_t)] = L'\0';
        const QString driver = QString::fromWCharArray(name, int(nameLength));
        const bool usb = driver.contains(QLatin1String("USB"), Qt::CaseInsensitive)
                         || driver.contains(QLatin1String("VCP"), Qt::CaseInsensitive);
        ports.append({QString::fromWCharArray(data).trimmed(), QString(), usb});
    }
    RegCloseKey(key);
    return ports;
}
#else
QList<SystemPort> systemSerialPorts()
{
    QList<SystemPort> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        const QString device = info.systemLocation();
        const bool usb = info.hasVendorIdentifier() || info.portName().startsWith(QLatin1String("ttyUSB"))
                         || info.portName().startsWith(QLatin1String("ttyACM"));
        ports.append({device, info.description(), usb});
    }
    return ports;
}
#endif

QList<ComPortInfo> listComPorts(const QString &programFolder)
{
    return listComPorts(programFolder, systemSerialPorts());
}

QList<ComPortInfo> listComPorts(const QString &programFolder, const QList<SystemPort> &system)
{
    QList<ComPortInfo> ports;
    for (int n = kLowestComPort; n <= kHighestComPort; ++n) {
        ComPortInfo info;
        info.comPort = n;
#ifdef Q_OS_WIN
        Q_UNUSED(programFolder);
        info.device = QStringLiteral("COM%1").arg(n);
        const SystemPort *known = findSystemPort(system, info.device);
        info.present = known != nullptr;
#else
        const QFileInfo link(linkPath(programFolder, n));
        const SystemPort *known = nullptr;
        if (link.isSymLink()) {
            info.linked = true;
            info.device = link.symLinkTarget();
            // Only the link itself is looked at: a dangling one is reported, never followed.
            info.dangling = !QFileInfo::exists(info.device);
            info.present = !info.dangling;
            known = info.present ? findSystemPort(system, info.device) : nullptr;
        } else if (link.exists()) {
            // Not a link: opening it opens this very file (a test may put a device node here).
            info.linked = true;
            info.device = link.absoluteFilePath();
            info.present = true;
        } else {
            info.device = QStringLiteral("/dev/ttyS%1").arg(n - 1);
            known = findSystemPort(system, info.device);
            info.present = known != nullptr;
        }
#endif
        if (known)
            info.description = known->description;
        ports.append(info);
    }
    return ports;
}

QList<SystemPort> unlinkedUsbAdapters(const QList<ComPortInfo> &ports, const QList<SystemPort> &system)
{
    QList<SystemPort> adapters;
#ifndef Q_OS_WIN
    for (const SystemPort &port : system) {
        if (!port.usbAdapter)
            continue;
        const QString device = canonical(port.device);
        const bool linked = std::any_of(ports.begin(), ports.end(), [&](const ComPortInfo &info) {
            return info.linked && info.present && canonical(info.device) == device;
        });
        if (!linked)
            adapters.append(port);
    }
#else
    Q_UNUSED(ports);
    Q_UNUSED(system);
#endif
    return adapters;
}

int freeAdapterComPort(const QString &programFolder)
{
    for (int n = kFirstAdapterComPort; n <= kHighestComPort; ++n) {
        const QFileInfo entry(linkPath(programFolder, n));
        if (!entry.exists() && !entry.isSymLink())
            return n;
    }
    return 0;
}

bool makePortLink(const QString &programFolder, int comPort, const QString &device, QString *error)
{
    const QString path = linkPath(programFolder, comPort);
    const QFileInfo entry(path);
    if (entry.exists() || entry.isSymLink()) {
        if (error)
            *error = QStringLiteral("%1 already exists").arg(path);
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    QFile target(device);
    if (!target.link(path)) {
        if (error)
            *error = target.errorString();
        return false;
    }
    return true;
}

} // namespace oe
