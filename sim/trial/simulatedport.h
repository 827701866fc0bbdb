#pragma once

#include "serialport.h"
#include "virtualclock.h"

#include <functional>

namespace oe {

// A serial port on a virtual clock: what the program writes goes to onWrite, bytes from the other side
// arrive at the moment they are given for. It behaves as the system's port does: a receive event per
// arrival once the threshold is met, none while one is being handled (the bytes that came meanwhile
// get their event once the handler has returned), nothing while closed.
class SimulatedPort : public SerialPort
{
    Q_OBJECT
public:
    using WriteHandler = std::function<void(const QByteArray &frame)>;

    explicit SimulatedPort(VirtualClock *clock, QObject *parent = nullptr);

    void setWriteHandler(WriteHandler handler) { m_onWrite = std::move(handler); }
    // Bytes from the other side, in at atMs (not before now); lost when the port closes first.
    void deliver(const QByteArray &bytes, qint64 atMs);
    // The other side goes away: the port closes and reports the loss once.
    void hangUp();
    bool inReceiveEvent() const { return m_inReceiveEvent; }
    int opens() const { return m_opens; }

signals:
    // Bytes came in from the other side (before the receive event they raise).
    void arrived(const QByteArray &bytes);

public:
    bool open(int comPort, QString *error) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void write(const QByteArray &bytes) override;
    void setReceiveThreshold(int bytes) override { m_threshold = qMax(0, bytes); }
    QByteArray readAll() override { return std::exchange(m_input, {}); }
    void discardInput() override { m_input.clear(); }

private:
    void onArrival();
    void raise();

    struct Arrival {
        qint64 atMs;
        QByteArray bytes;
    };

    VirtualClock *m_clock;
    WriteHandler m_onWrite;
    ClockTimer *m_arrivalTimer;
    QList<Arrival> m_arrivals; // by time, then in the order given
    QByteArray m_input;
    bool m_open = false;
    bool m_inReceiveEvent = false;
    bool m_raisePosted = false;
    int m_threshold = 0;
    int m_opens = 0;
};

} // namespace oe
