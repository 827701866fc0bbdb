#pragma once

#include "clock.h"

#include <QObject>

namespace oe {

// A timer with the Enabled/Interval behaviour the window's logic is written for: it ticks only while
// enabled with an interval above 0; setting Enabled or Interval to the value it already has leaves a
// running countdown alone. Ticks repeat until the timer is disabled. Always a precise timer: a coarse
// one fires up to 5 % early.
//
// What a new interval does to a running timer depends on its phase rule: RestartOnChange starts a
// fresh countdown; KeepPhase keeps the rhythm, so the next tick comes at the last tick (or the start)
// plus the new interval, at once when that moment has passed. The pump lamp needs KeepPhase: its pause
// is re-set at every status reply and may move each time, and a restart would never let it tick.
class IntervalTimer : public QObject
{
    Q_OBJECT
public:
    enum class Phase { RestartOnChange, KeepPhase };

    // Time comes from clock (the steady clock when none is given).
    IntervalTimer(const QString &name, int interval, QObject *parent = nullptr,
                  Phase phase = Phase::RestartOnChange, Clock *clock = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    void setInterval(int milliseconds);
    bool ticking() const { return m_timer->isActive(); }
    // When the next tick is due, on the clock's time (while ticking).
    qint64 dueMs() const { return m_timer->dueMs(); }

signals:
    void tick();

private:
    void restart();
    void onTimeout();

    Clock *m_clock;
    ClockTimer *m_timer;
    Phase m_phase;
    bool m_enabled = false;
    int m_interval = 0;
    // When the last tick was due, or when the countdown started (the clock's ms): ticks follow it, so
    // the rhythm never drifts.
    qint64 m_referenceMs = 0;
};

} // namespace oe
