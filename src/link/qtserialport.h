#pragma once

#include "serialport.h"

#include <QSerialPort>

namespace oe {

// SerialPort over QSerialPort. COM numbers resolve through resolvePortDevice in the program folder.
class QtSerialPort : public SerialPort
{
    Q_OBJECT
public:
    explicit QtSerialPort(const QString &programFolder, QObject *parent = nullptr);
    ~QtSerialPort() override;

    bool open(int comPort, QString *error) override;
    // Opens this device instead of the one a COM number names, for a user who gives a device path.
    void setDevice(const QString &device) { m_deviceOverride = device; }
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    void setReceiveThreshold(int bytes) override;
    QByteArray readAll() override;
    void discardInput() override;

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    QString m_programFolder;
    QString m_deviceOverride;
    QSerialPort m_port;
    int m_threshold = 0;
    bool m_inReceiveEvent = false;
    bool m_draining = false;
    bool m_lost = false;
};

} // namespace oe
