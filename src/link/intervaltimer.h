#pragma once

#include <QObject>
#include <QTimer>

namespace oe {

// A timer with the Enabled/Interval behaviour the window's logic is written for: it ticks only while
// enabled with an interval above 0; setting Enabled or Interval to the value it already has leaves a
// running countdown alone; a new interval on a running timer starts a fresh countdown. Ticks repeat
// until the timer is disabled. Always a precise timer: a coarse one fires up to 5 % early.
class IntervalTimer : public QObject
{
    Q_OBJECT
public:
    IntervalTimer(const QString &name, int interval, QObject *parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    void setInterval(int milliseconds);
    bool ticking() const { return m_timer.isActive(); }

signals:
    void tick();

private:
    void restartIfDue();

    QTimer m_timer;
    bool m_enabled = false;
    int m_interval = 0;
};

} // namespace oe
