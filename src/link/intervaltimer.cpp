#include "intervaltimer.h"

namespace oe {

IntervalTimer::IntervalTimer(const QString &name, int interval, QObject *parent, Phase phase, Clock *clock)
    : QObject(parent),
      m_clock(Clock::orSteady(clock)),
      m_timer(m_clock->createTimer(this)),
      m_phase(phase),
      m_interval(qMax(0, interval))
{
    setObjectName(name);
    connect(m_timer, &ClockTimer::timeout, this, &IntervalTimer::onTimeout);
}

void IntervalTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    m_referenceMs = m_clock->nowMs();
    restart();
}

void IntervalTimer::setInterval(int milliseconds)
{
    milliseconds = qMax(0, milliseconds);
    if (milliseconds == m_interval)
        return;
    const bool wasTicking = m_timer->isActive();
    m_interval = milliseconds;
    if (m_phase == Phase::KeepPhase && wasTicking && m_enabled && m_interval > 0) {
        const qint64 left = m_referenceMs + m_interval - m_clock->nowMs();
        m_timer->start(std::chrono::milliseconds(qBound<qint64>(0, left, qint64(m_interval))));
        return;
    }
    m_referenceMs = m_clock->nowMs();
    restart();
}

void IntervalTimer::restart()
{
    if (m_enabled && m_interval > 0)
        m_timer->start(std::chrono::milliseconds(m_interval));
    else
        m_timer->stop();
}

void IntervalTimer::onTimeout()
{
    if (m_enabled && m_interval > 0) {
        const qint64 now = m_clock->nowMs();
        const qint64 due = m_referenceMs + m_interval;
        // The next tick counts from when this one was due, unless the loop was held up for longer
        // than a whole interval: then the rhythm starts again from now rather than catching up.
        m_referenceMs = (due <= now && now - due < m_interval) ? due : now;
        m_timer->start(std::chrono::milliseconds(qMax<qint64>(0, m_referenceMs + m_interval - now)));
    }
    emit tick();
}

} // namespace oe
