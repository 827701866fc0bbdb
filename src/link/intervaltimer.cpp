#include "intervaltimer.h"

namespace oe {

IntervalTimer::IntervalTimer(const QString &name, int interval, QObject *parent)
    : QObject(parent), m_interval(qMax(0, interval))
{
    setObjectName(name);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &IntervalTimer::tick);
}

void IntervalTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    restartIfDue();
}

void IntervalTimer::setInterval(int milliseconds)
{
    milliseconds = qMax(0, milliseconds);
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    restartIfDue();
}

void IntervalTimer::restartIfDue()
{
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
    else
        m_timer.stop();
}

} // namespace oe
