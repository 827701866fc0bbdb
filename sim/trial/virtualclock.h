#pragma once

#include "clock.h"

#include <QCoreApplication>

#include <map>
#include <utility>

namespace oe {

// Time that passes only when nothing is ready to run: run() hands out posted events, then jumps to
// the earliest armed timer and fires it. Timers due at the same moment fire in the order they were
// armed, so a run depends on nothing but what the code did.
class VirtualTimer;

class VirtualClock : public Clock
{
public:
    VirtualClock();
    ~VirtualClock() override;

    qint64 nowMs() const override { return m_now; }
    QDateTime wallTime() const override { return m_epoch.addMSecs(m_now); }
    ClockTimer *createTimer(QObject *parent) override;

    // Delivers posted events, then fires timers until untilMs has come (or stop is set, or nothing is
    // left to run). after runs once after every event. Re-entrant: a handler may call it, as a modal
    // box runs its own loop.
    template<typename After>
    void runUntil(qint64 untilMs, const bool &stop, After after)
    {
        while (!stop) {
            deliverPosted();
            after();
            if (stop)
                return;
            if (m_timers.empty() || m_timers.begin()->first.first > untilMs) {
                m_now = qMax(m_now, untilMs);
                return;
            }
            fireFirst();
            after();
        }
    }
    bool idle() const { return m_timers.empty(); }
    qint64 nextDueMs() const { return m_timers.empty() ? -1 : m_timers.begin()->first.first; }
    quint64 timersFired() const { return m_fired; }
    // The timer whose timeout is being handled, innermost first (none between events).
    ClockTimer *firing() const { return m_firing; }

private:
    friend class VirtualTimer;
    using Key = std::pair<qint64, quint64>; // due, order armed
    void fireFirst();
    // Until none is left: an event posted while others are handed out waits for the next round, and
    // time must not move while one waits.
    void deliverPosted();
    class Counter;
    Counter *m_counter;

    qint64 m_now = 0;
    quint64 m_armed = 0;
    quint64 m_fired = 0;
    ClockTimer *m_firing = nullptr;
    std::map<Key, VirtualTimer *> m_timers;
    QDateTime m_epoch = QDateTime(QDate(2026, 1, 1), QTime(8, 0));
};

class VirtualTimer : public ClockTimer
{
public:
    VirtualTimer(VirtualClock *clock, QObject *parent) : ClockTimer(parent), m_clock(clock) {}
    ~VirtualTimer() override { stop(); }
    void start(std::chrono::milliseconds in) override;
    void stop() override;
    bool isActive() const override { return m_active; }
    qint64 dueMs() const override { return m_key.first; }

private:
    friend class VirtualClock;
    VirtualClock *m_clock;
    VirtualClock::Key m_key{0, 0};
    bool m_active = false;
};

} // namespace oe
