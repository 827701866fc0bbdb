#include "virtualclock.h"

namespace oe {

// Counts the events the application hands out.
class VirtualClock::Counter : public QObject
{
public:
    quint64 events = 0;

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        ++events;
        return false;
    }
};

VirtualClock::VirtualClock() : m_counter(new Counter)
{
    QCoreApplication::instance()->installEventFilter(m_counter);
}

VirtualClock::~VirtualClock()
{
    delete m_counter;
}

void VirtualClock::deliverPosted()
{
    quint64 before;
    do {
        before = m_counter->events;
        QCoreApplication::sendPostedEvents();
    } while (m_counter->events != before);
}

ClockTimer *VirtualClock::createTimer(QObject *parent)
{
    return new VirtualTimer(this, parent);
}

void VirtualClock::fireFirst()
{
    const auto first = m_timers.begin();
    VirtualTimer *timer = first->second;
    m_now = qMax(m_now, first->first.first);
    m_timers.erase(first);
    timer->m_active = false;
    ++m_fired;
    ClockTimer *outer = std::exchange(m_firing, timer);
    emit timer->timeout();
    m_firing = outer;
}

void VirtualTimer::start(std::chrono::milliseconds in)
{
    stop();
    m_key = {m_clock->m_now + qMax<qint64>(0, in.count()), ++m_clock->m_armed};
    m_clock->m_timers.emplace(m_key, this);
    m_active = true;
}

void VirtualTimer::stop()
{
    if (!m_active)
        return;
    m_clock->m_timers.erase(m_key);
    m_active = false;
}

} // namespace oe
