#include "clock.h"

#include <QDeadlineTimer>
#include <QTimer>

namespace oe {

namespace {

qint64 steadyNowMs()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
}

class SteadyTimer : public ClockTimer
{
public:
    explicit SteadyTimer(QObject *parent) : ClockTimer(parent)
    {
        m_timer.setSingleShot(true);
        // A coarse timer fires up to 5 % early.
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &ClockTimer::timeout);
    }
    void start(std::chrono::milliseconds in) override
    {
        const qint64 ms = qMax<qint64>(0, in.count());
        m_due = steadyNowMs() + ms;
        m_timer.start(int(ms));
    }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }
    qint64 dueMs() const override { return m_due; }

private:
    QTimer m_timer;
    qint64 m_due = 0;
};

class SteadyClock : public Clock
{
public:
    qint64 nowMs() const override { return steadyNowMs(); }
    QDateTime wallTime() const override { return QDateTime::currentDateTime(); }
    ClockTimer *createTimer(QObject *parent) override { return new SteadyTimer(parent); }
};

} // namespace

Clock *Clock::steady()
{
    static SteadyClock clock;
    return &clock;
}

} // namespace oe
