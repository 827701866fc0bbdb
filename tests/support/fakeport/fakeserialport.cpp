#include "fakeserialport.h"

#include <QScopedValueRollback>

#include <algorithm>

namespace oe {

FakeSerialPort::FakeSerialPort(QObject *parent) : SerialPort(parent)
{
    m_clock.start();
    m_arrivalTimer.setSingleShot(true);
    m_arrivalTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_arrivalTimer, &QTimer::timeout, this, &FakeSerialPort::onArrivalTimer);
}

void FakeSerialPort::deliver(const QByteArray &bytes, std::chrono::milliseconds delay)
{
    if (!m_open || bytes.isEmpty())
        return;
    Arrival arrival{bytes, QDeadlineTimer(delay, Qt::PreciseTimer)};
    // Keep arrival order; equal times stay in the order they were sent.
    auto later = std::upper_bound(m_arrivals.begin(), m_arrivals.end(), arrival,
                                  [](const Arrival &a, const Arrival &b) { return a.due < b.due; });
    m_arrivals.insert(later, arrival);
    scheduleNextArrival();
}

void FakeSerialPort::loseConnection()
{
    if (!m_open)
        return;
    close();
    if (!m_lossReported) {
        m_lossReported = true;
        emit portLost();
    }
}

QList<QByteArray> FakeSerialPort::writtenBytes() const
{
    QList<QByteArray> list;
    for (const Frame &frame : m_written)
        list.append(frame.bytes);
    return list;
}

bool FakeSerialPort::open(int comPort, QString *error)
{
    m_comPort = comPort;
    const QString device = m_deviceName.isEmpty() ? QStringLiteral("fake:COM%1").arg(comPort) : m_deviceName;
    if (!m_openError.isEmpty()) {
        setOpenOutcome(device, m_openErrorKind);
        if (error)
            *error = m_openError;
        return false;
    }
    close();
    setOpenOutcome(device, PortOpenError::None);
    m_open = true;
    m_lossReported = false;
    ++m_openCount;
    return true;
}

void FakeSerialPort::close()
{
    m_open = false;
    m_input.clear();
    m_arrivals.clear();
    m_arrivalTimer.stop();
}

bool FakeSerialPort::hangsUpNow(Call call)
{
    if (m_hangUpIn <= 0 || call != m_hangUpCall || --m_hangUpIn > 0)
        return false;
    loseConnection();
    return true;
}

void FakeSerialPort::write(const QByteArray &bytes)
{
    if (hangsUpNow(Call::Write))
        return;
    if (!m_open) {
        ++m_writesWhileClosed;
        return;
    }
    m_written.append({bytes, m_clock.elapsed()});
    if (m_responder)
        deliver(m_responder(bytes), m_replyDelay);
}

QByteArray FakeSerialPort::readAll()
{
    takeArrived();
    return std::exchange(m_input, {});
}

QByteArray FakeSerialPort::readReceived()
{
    const QByteArray bytes = readAll();
    hangsUpNow(Call::Read);
    return isOpen() ? bytes : QByteArray();
}

void FakeSerialPort::discardInput()
{
    ++m_discards;
    m_input.clear();
    hangsUpNow(Call::Discard);
}

void FakeSerialPort::takeArrived()
{
    while (!m_arrivals.isEmpty() && m_arrivals.first().due.hasExpired())
        m_input += m_arrivals.takeFirst().bytes;
}

void FakeSerialPort::onArrivalTimer()
{
    takeArrived();
    scheduleNextArrival();
    if (m_inReceiveEvent || m_threshold <= 0 || m_input.size() < m_threshold)
        return;
    {
        QScopedValueRollback guard(m_inReceiveEvent, true);
        emit receiveEvent();
    }
    // Like the real port: bytes that came while the handler ran get their event afterwards.
    if (m_open && m_threshold > 0 && m_input.size() >= m_threshold)
        QMetaObject::invokeMethod(this, &FakeSerialPort::onArrivalTimer, Qt::QueuedConnection);
}

void FakeSerialPort::scheduleNextArrival()
{
    if (m_arrivals.isEmpty()) {
        m_arrivalTimer.stop();
        return;
    }
    m_arrivalTimer.start(int(qMax<qint64>(0, m_arrivals.first().due.remainingTime())));
}

} // namespace oe
