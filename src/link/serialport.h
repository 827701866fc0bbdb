#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>


namespace oe {

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
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // receiveEvent is raised once at least this many bytes are waiting; 0 raises none.
    virtual void setReceiveThreshold(int bytes) = 0;
    // Every byte waiting, including bytes the driver holds but has not reported yet.
    virtual QByteArray readAll() = 0;
    virtual void discardInput() = 0;

signals:
    void receiveEvent();
    // The other side went away; the port has already closed itself. Raised once per loss.
    void portLost();
};

} // namespace oe
