#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>


namespace oe {

// Why a port could not be opened, in the terms a technician can act on.
enum class PortOpenError {
    None,         // the last open succeeded (or none was tried)
    NotFound,     // no such device, or a ports/COMn link whose target is gone
    InUse,        // another program holds it
    NoPermission, // the user may not open it (on Linux: not in the dialout group)
    NotATty,      // the path exists but is no serial port
    Other,
};

// The serial port as the handshake sees it: open by COM number, write frames, hear about received
// bytes, read or drop them. QtSerialPort drives real hardware; tests use a scripted fake.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens COM<comPort> with the controller's line settings and drops anything already waiting.
    // On failure returns false and, when error is given, says why.
    virtual bool open(int comPort, QString *error) = 0;
    // What the last open() tried and why it failed; refreshed by every open().
    PortOpenError openError() const { return m_openError; }
    QString device() const { return m_device; }
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // receiveEvent is raised once at least this many bytes are waiting; 0 raises none.
    virtual void setReceiveThreshold(int bytes) = 0;
    // Every byte waiting, including bytes the driver holds but has not reported yet.
    virtual QByteArray readAll() = 0;
    virtual void discardInput() = 0;

protected:
    void setOpenOutcome(const QString &device, PortOpenError error)
    {
        m_device = device;
        m_openError = error;
    }

signals:
    void receiveEvent();
    // The other side went away; the port has already closed itself. Raised once per loss.
    void portLost();

private:
    QString m_device;
    PortOpenError m_openError = PortOpenError::None;
};

} // namespace oe
