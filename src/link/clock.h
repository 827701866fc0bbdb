#pragma once

#include <QDateTime>
#include <QObject>

#include <chrono>

namespace oe {

// A one-shot deadline from a Clock: start() arms it (again), timeout fires once when it is due.
class ClockTimer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start(std::chrono::milliseconds in) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    // When it fires, on its clock's time (only while active).
    virtual qint64 dueMs() const = 0;

signals:
    void timeout();
};

// Where the link and the session take their time from: the steady clock in the program, a virtual one
// in the simulation (which jumps from deadline to deadline, so hours of a session run in seconds and
// every run of a seed is the same run).
class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale (its zero means nothing).
    virtual qint64 nowMs() const = 0;
    // The date and time of day, for time stamps a person reads.
    virtual QDateTime wallTime() const = 0;
    virtual ClockTimer *createTimer(QObject *parent) = 0;

    // The process's steady clock, on Qt's precise timers.
    static Clock *steady();
    // The clock to use: the given one, or the steady clock.
    static Clock *orSteady(Clock *clock) { return clock ? clock : steady(); }
};

} // namespace oe
