#include "qtserialport.h"

#include "portpath.h"
#include "serialsettings.h"
#include "simlink.h"

#include <QFileInfo>
#include <QScopedValueRollback>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace oe {

static_assert(SerialSettings::kDataBits == 8 && !SerialSettings::kParity && SerialSettings::kStopBits == 1
                  && !SerialSettings::kFlowControl,
              "the settings below set 8N1 without flow control");

QtSerialPort::QtSerialPort(const QString &programFolder, QObject *parent)
    : SerialPort(parent), m_programFolder(programFolder)
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort()
{
    // No loss report while being torn down.
    m_port.disconnect(this);
}

namespace {

// QSerialPort reports a lock held by another program and a device the user may not open with the
// same PermissionError; only the second is about access rights.
PortOpenError openErrorKind(QSerialPort::SerialPortError error, const QString &path)
{
    switch (error) {
    case QSerialPort::NoError: return PortOpenError::None;
    case QSerialPort::DeviceNotFoundError: return PortOpenError::NotFound;
    case QSerialPort::UnsupportedOperationError: return PortOpenError::NotATty; // ENOTTY from the line setup
    case QSerialPort::PermissionError: {
#ifdef Q_OS_UNIX
        if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return PortOpenError::NoPermission;
#else
        Q_UNUSED(path);
#endif
        return PortOpenError::InUse;
    }
    default: return PortOpenError::Other;
    }
}

} // namespace

bool QtSerialPort::open(int comPort, QString *error)
{
    close();
    const QString link = m_deviceOverride.isEmpty() ? resolvePortDevice(comPort, m_programFolder) : m_deviceOverride;
    const QFileInfo info(link);
    // A gone simulator's pty name may since have gone to someone's terminal: never write into it.
    const QString refusal = simLinkRefusal(link);
    if (!refusal.isEmpty()) {
        setOpenOutcome(info.symLinkTarget(), PortOpenError::Other);
        if (error)
            *error = refusal;
        return false;
    }
    // The device itself is opened, not the link: QSerialPort's lock is named after the path, so two
    // links to one device must not make two locks. The device is also what the user knows it by.
#ifdef Q_OS_WIN
    const QString path = link; // a name such as COM3, not a file
#else
    const QString canonical = info.canonicalFilePath();
    const QString path = canonical.isEmpty() ? link : canonical;
#endif
    setOpenOutcome(info.isSymLink() ? info.symLinkTarget() : path, PortOpenError::Other);
    m_port.setPortName(path);
    m_port.setBaudRate(SerialSettings::kBaudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_lost = false;
    if (!m_port.open(QIODevice::ReadWrite)) {
        setOpenOutcome(device(), openErrorKind(m_port.error(), path));
        if (error)
            *error = m_port.errorString();
        return false;
    }
    setOpenOutcome(device(), PortOpenError::None);
    // Bytes the other side sent while the port was closed belong to nobody.
    m_port.clear();
    return true;
}

void QtSerialPort::close()
{
    // Closing a closed QSerialPort raises NotOpenError; never do it.
    if (m_port.isOpen())
        m_port.close();
}

bool QtSerialPort::isOpen() const
{
    return m_port.isOpen();
}

void QtSerialPort::write(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return;
    m_port.write(bytes);
    // Out now, not on a later pass of the event loop: a repaint queued by the last reply would
    // otherwise hold the frame back, and its reply with it.
    m_port.flush();
}

void QtSerialPort::setReceiveThreshold(int bytes)
{
    m_threshold = qMax(0, bytes);
}

QByteArray QtSerialPort::readReceived()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

QByteArray QtSerialPort::readAll()
{
    if (!m_port.isOpen())
        return {};
    {
        // Bytes the driver holds but has not reported yet belong to this read: fetch them first.
        // The readyRead this may raise is not a new receive event.
        QScopedValueRollback guard(m_draining, true);
        m_port.waitForReadyRead(0);
    }
    if (!m_port.isOpen()) // the fetch found the other side gone
        return {};
    return m_port.readAll();
}

void QtSerialPort::discardInput()
{
    if (!m_port.isOpen())
        return;
    m_port.readAll();
    m_port.clear(QSerialPort::Input);
}

void QtSerialPort::onReadyRead()
{
    if (m_draining || m_inReceiveEvent)
        return;
    if (m_threshold <= 0 || m_port.bytesAvailable() < m_threshold)
        return;
    {
        QScopedValueRollback guard(m_inReceiveEvent, true);
        emit receiveEvent();
    }
    // Bytes that came while the handler ran (a dialog's event loop, say) raise no readyRead of their
    // own: raise the event for them from the event loop instead of leaving them to the next byte.
    if (m_port.isOpen() && m_threshold > 0 && m_port.bytesAvailable() >= m_threshold)
        QMetaObject::invokeMethod(this, &QtSerialPort::onReadyRead, Qt::QueuedConnection);
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    // Timeouts come from waitForReadyRead finding nothing new, NotOpenError from an operation on a
    // closed port (closing again would recurse), the rest from open() or a setter: none is a loss.
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError
        && error != QSerialPort::ResourceError)
        return;
    // Read, write and resource errors on an open port mean the other side is gone. The port keeps
    // raising them as fast as it can while open, so close it right here.
    if (!m_port.isOpen())
        return;
    m_port.close();
    if (!m_lost) {
        m_lost = true;
        emit portLost();
    }
}

} // namespace oe
