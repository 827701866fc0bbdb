#include "simulatedport.h"

#include <QScopedValueRollback>

namespace oe {

SimulatedPort::SimulatedPort(VirtualClock *clock, QObject *parent)
    : SerialPort(parent), m_clock(clock), m_arrivalTimer(clock->createTimer(this))
{
    connect(m_arrivalTimer, &ClockTimer::timeout, this, &SimulatedPort::onArrival);
}

bool SimulatedPort::open(int comPort, QString *error)
{
    close();
    Q_UNUSED(error);
    setOpenOutcome(QStringLiteral("trial:COM%1").arg(comPort), PortOpenError::None);
    m_open = true;
    ++m_opens;
    return true;
}

void SimulatedPort::close()
{
    m_open = false;
    m_input.clear();
    m_arrivals.clear();
    m_arrivalTimer->stop();
}

void SimulatedPort::hangUp()
{
    if (!m_open)
        return;
    close();
    emit portLost();
}

void SimulatedPort::write(const QByteArray &bytes)
{
    if (m_open && m_onWrite)
        m_onWrite(bytes);
}

void SimulatedPort::deliver(const QByteArray &bytes, qint64 atMs)
{
    if (!m_open || bytes.isEmpty())
        return;
    atMs = qMax(atMs, m_clock->nowMs());
    auto at = m_arrivals.end();
    while (at != m_arrivals.begin() && (at - 1)->atMs > atMs)
        --at;
    m_arrivals.insert(at, Arrival{atMs, bytes});
    if (!m_arrivalTimer->isActive() || m_arrivalTimer->dueMs() > m_arrivals.first().atMs)
        m_arrivalTimer->start(std::chrono::milliseconds(m_arrivals.first().atMs - m_clock->nowMs()));
}

void SimulatedPort::onArrival()
{
    const qint64 now = m_clock->nowMs();
    // One arrival per event, as the driver reports each burst on its own.
    if (!m_arrivals.isEmpty() && m_arrivals.first().atMs <= now) {
        const QByteArray bytes = m_arrivals.takeFirst().bytes;
        m_input += bytes;
        emit arrived(bytes);
    }
    if (!m_arrivals.isEmpty())
        m_arrivalTimer->start(std::chrono::milliseconds(qMax<qint64>(0, m_arrivals.first().atMs - now)));
    raise();
}

void SimulatedPort::raise()
{
    if (m_inReceiveEvent || m_threshold <= 0 || m_input.size() < m_threshold)
        return;
    {
        QScopedValueRollback guard(m_inReceiveEvent, true);
        emit receiveEvent();
    }
    if (m_open && m_threshold > 0 && m_input.size() >= m_threshold && !m_raisePosted) {
        m_raisePosted = true;
        QMetaObject::invokeMethod(this, [this] {
            m_raisePosted = false;
            raise();
        }, Qt::QueuedConnection);
    }
}

} // namespace oe
