#include "intervaltimer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace oe;

class TestIntervalTimer : public QObject
{
    Q_OBJECT
private slots:
    void zeroIntervalNeverTicks();
    void rearmingWithSameValuesKeepsCountdown();
    void newIntervalRestartsCountdown();
    void keepPhaseFollowsMovingInterval_data();
    void keepPhaseFollowsMovingInterval();
    void disableStops();
};

void TestIntervalTimer::zeroIntervalNeverTicks()
{
    IntervalTimer timer("t", 0);
    QSignalSpy ticks(&timer, &IntervalTimer::tick);
    timer.setEnabled(true);
    QVERIFY(!timer.ticking());
    QTest::qWait(100);
    QCOMPARE(ticks.count(), 0);
}

// Status replies re-arm the pause timer with the same interval several times per period; the lamp
// only flashes if that leaves the countdown running.
void TestIntervalTimer::rearmingWithSameValuesKeepsCountdown()
{
    IntervalTimer timer("t", 0);
    QSignalSpy ticks(&timer, &IntervalTimer::tick);
    timer.setEnabled(true);
    timer.setInterval(300);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000) {
        QTest::qWait(50);
        timer.setEnabled(true);
        timer.setInterval(300);
    }
    QVERIFY2(ticks.count() >= 2, qPrintable(QString::number(ticks.count())));
}

void TestIntervalTimer::newIntervalRestartsCountdown()
{
    IntervalTimer timer("t", 400);
    QSignalSpy ticks(&timer, &IntervalTimer::tick);
    timer.setEnabled(true);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000) {
        QTest::qWait(50);
        timer.setInterval(timer.interval() == 400 ? 401 : 400);
    }
    QCOMPARE(ticks.count(), 0);
}

// The lamp's pause timer: the pause moves with the load at every status reply, and the rhythm must
// survive it. A shorter interval whose moment has passed ticks at once.
void TestIntervalTimer::keepPhaseFollowsMovingInterval_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("minTicks");
    QTest::addColumn<int>("maxTicks");
    QTest::newRow("pause moving by one step") << 300 << 301 << 2 << 4;
    QTest::newRow("pause halved past its moment") << 600 << 100 << 5 << 11;
}

void TestIntervalTimer::keepPhaseFollowsMovingInterval()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, minTicks);
    QFETCH(int, maxTicks);
    IntervalTimer timer("t", first, nullptr, IntervalTimer::Phase::KeepPhase);
    QSignalSpy ticks(&timer, &IntervalTimer::tick);
    timer.setEnabled(true);
    QElapsedTimer clock;
    clock.start();
    int flip = 0;
    while (clock.elapsed() < 1000) {
        QTest::qWait(50);
        if (first - second == -1 || first - second == 1)
            timer.setInterval(++flip % 2 ? second : first);
        else if (clock.elapsed() >= 200)
            timer.setInterval(second);
    }
    QVERIFY2(ticks.count() >= minTicks && ticks.count() <= maxTicks, qPrintable(QString::number(ticks.count())));
}

void TestIntervalTimer::disableStops()
{
    IntervalTimer timer("t", 20);
    QSignalSpy ticks(&timer, &IntervalTimer::tick);
    timer.setEnabled(true);
    QVERIFY(ticks.wait(1000));
    timer.setEnabled(false);
    const auto seen = ticks.count();
    QTest::qWait(100);
    QCOMPARE(ticks.count(), seen);
    QVERIFY(!timer.ticking());
}

QTEST_GUILESS_MAIN(TestIntervalTimer)
#include "tst_intervaltimer.moc"
