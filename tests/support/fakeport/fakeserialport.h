#pragma once

#include "serialport.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QTimer>

#include <functional>

namespace oe {

// An in-memory serial port for tests. Written frames are recorded with a time stamp; a responder
// turns each written frame into reply bytes, which arrive after a delay through a timer, so the
// receive event comes from the event loop as with a real port. Bytes whose arrival time has passed
// are in the next readAll() even before their timer fired, again like a real port.
class FakeSerialPort : public SerialPort
{
    Q_OBJECT
public:
    struct Frame {
        QByteArray bytes;
        qint64 atMs; // on the clock of elapsedMs()
    };
    // Returns the reply to a written frame; empty for none.
    using Responder = std::function<QByteArray(const QByteArray &request)>;

    explicit FakeSerialPort(QObject *parent = nullptr);

    // --- scripting
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    void setReplyDelay(std::chrono::milliseconds delay) { m_replyDelay = delay; }
    // A non-empty error makes every open() fail with it, for the given reason.
    void setOpenError(const QString &error, PortOpenError kind = PortOpenError::Other)
    {
        m_openError = error;
        m_openErrorKind = kind;
    }
    // The device the port leads to; fake:COMn unless set.
    void setDevice(const QString &device) { m_deviceName = device; }
    // Bytes from the other side, arriving after the delay (while the port is open).
    void deliver(const QByteArray &bytes, std::chrono::milliseconds delay = {});
    // The other side goes away: the port closes and portLost is raised once.
    void loseConnection();
    // The line hangs up inside the nth call (counted from now) of discardInput() or write(), the way
    // a real port reports a loss from inside the call that found it; a write that finds it sends nothing.
    enum class Call { Discard, Write, Read };
    void hangUpInside(Call call, int nth) { m_hangUpCall = call; m_hangUpIn = nth; }

    // --- observation
    const QList<Frame> &written() const { return m_written; }
    QList<QByteArray> writtenBytes() const;
    void clearWritten() { m_written.clear(); }
    int writesWhileClosed() const { return m_writesWhileClosed; }
    bool inReceiveEvent() const { return m_inReceiveEvent; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    int openCount() const { return m_openCount; }
    int comPort() const { return m_comPort; }
    int receiveThreshold() const { return m_threshold; }
    int discardCount() const { return m_discards; }
    qsizetype bytesWaiting() const { return m_input.size(); }

    // --- SerialPort
    bool open(int comPort, QString *error) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void write(const QByteArray &bytes) override;
    void setReceiveThreshold(int bytes) override { m_threshold = qMax(0, bytes); }
    QByteArray readAll() override;
    QByteArray readReceived() override;
    void discardInput() override;

private:
    struct Arrival {
        QByteArray bytes;
        QDeadlineTimer due;
    };

    void takeArrived();
    void onArrivalTimer();
    void scheduleNextArrival();
    bool hangsUpNow(Call call);

    Responder m_responder;
    std::chrono::milliseconds m_replyDelay{5};
    QString m_openError;
    PortOpenError m_openErrorKind = PortOpenError::Other;
    QString m_deviceName;

    QElapsedTimer m_clock;
    QTimer m_arrivalTimer;
    QList<Arrival> m_arrivals; // in order of arrival
    QByteArray m_input;
    QList<Frame> m_written;
    bool m_open = false;
    bool m_inReceiveEvent = false;
    bool m_lossReported = false;
    int m_threshold = 0;
    int m_openCount = 0;
    int m_comPort = 0;
    int m_discards = 0;
    int m_writesWhileClosed = 0;
    Call m_hangUpCall = Call::Discard;
    int m_hangUpIn = 0;
};

} // namespace oe
