#pragma once

#include "serialport.h"

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <QWinEventNotifier>

#include <memory>

namespace oe {

// SerialPort on the Win32 communications API, for the Windows build. COM<n> opens \\.\COM<n>.
//
// Received bytes are noticed through an overlapped WaitCommEvent(EV_RXCHAR) whose event handle the
// event loop watches. A completion only means "look": the port asks the driver how many bytes are
// queued and, when more are there than at the last look, raises receiveEvent if the threshold is
// met. The event mask is never trusted. Some drivers (Wine's among them) end the wait with "aborted"
// and an empty mask every few milliseconds, and complete it at once for as long as bytes sit
// unread; a look that finds nothing new therefore waits a few milliseconds before the next wait, so
// neither turns into a busy loop. Reads take what is queued and never wait for more; no read is ever
// left pending, so nothing can hold up a frame that must go out. Writes are overlapped and queued in
// order. Any other failing call on the open port means the device is gone: the port closes at once
// and raises portLost once.
class WinSerialPort : public SerialPort
{
    Q_OBJECT
public:
    explicit WinSerialPort(const QString &programFolder, QObject *parent = nullptr);
    ~WinSerialPort() override;

    // Opens this device instead of the COM number's: a name such as "COM12" or a path such as
    // "\\.\COM12" (oe-cli's -p with a device).
    void setDevice(const QString &device) { m_deviceOverride = device; }
    bool open(int comPort, QString *error) override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    void setReceiveThreshold(int bytes) override;
    QByteArray readAll() override;
    void discardInput() override;

private:
    struct Io; // the Win32 handles and OVERLAPPED blocks, kept out of this header

    bool armWait();
    void onQuietRearm();
    void onWaitDone();
    void startWrite();
    void onWriteDone();
    void lose();

    QString m_programFolder;
    QString m_deviceOverride;
    std::unique_ptr<Io> m_io;          // set while the port is open
    QWinEventNotifier m_waitNotifier;  // the receive wait's completion
    QWinEventNotifier m_writeNotifier; // the write's completion
    QByteArray m_writing;   // the bytes of the overlapped write in flight
    QByteArray m_toWrite;   // what goes out after it
    QTimer m_quietRearm;
    qint64 m_lastQueued = 0;   // bytes the driver held at the last look
    int m_threshold = 0;
    bool m_inReceiveEvent = false;
    bool m_missedReceive = false;
    bool m_lost = false;
};

} // namespace oe
