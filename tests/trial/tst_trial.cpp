#include "trial.h"

#include <QTest>

using namespace oe;

Q_DECLARE_METATYPE(oe::Plant)

// Seeds of the simulation that once broke an invariant: each runs its whole session again, and the
// fault it found must stay mended. A planted fault must still be caught.
class TestTrial : public QObject
{
    Q_OBJECT
private slots:
    void regressionSeeds_data();
    void regressionSeeds();
    void replayIsExact();
};

void TestTrial::regressionSeeds_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<Plant>("plant");
    QTest::addColumn<QString>("invariant"); // empty: every invariant holds
    QTest::newRow("a changed value found by the second read, saved stale") << quint64(44) << Plant::None << QString();
    QTest::newRow("a commit's echo during a reset") << quint64(55) << Plant::None << QString();
    QTest::newRow("an implausible read ending in C held to the time-out") << quint64(215) << Plant::None << QString();
    QTest::newRow("planted: a commit without the partner's read") << quint64(5) << Plant::SkipPartnerRead << "pairs";
}

void TestTrial::regressionSeeds()
{
    QFETCH(quint64, seed);
    QFETCH(Plant, plant);
    QFETCH(QString, invariant);
    TrialOptions options;
    options.seed = seed;
    options.plant = plant;
    const TrialOutcome outcome = runTrial(options);
    QVERIFY2(outcome.ok == invariant.isEmpty(),
             qPrintable(outcome.invariant + ": " + outcome.detail + "\n" + outcome.lastEvents.join('\n')));
    QCOMPARE(outcome.invariant, invariant);
    if (invariant.isEmpty())
        QCOMPARE(outcome.figures.virtualMs, options.virtualMs);
}

// One seed, one run: the same events, to the millisecond and the byte.
void TestTrial::replayIsExact()
{
    TrialOptions options;
    options.seed = 5;
    options.plant = Plant::SkipPartnerRead;
    const TrialOutcome first = runTrial(options);
    const TrialOutcome again = runTrial(options);
    QVERIFY(!first.ok);
    QCOMPARE(again.atMs, first.atMs);
    QCOMPARE(again.lastEvents, first.lastEvents);
    QCOMPARE(again.figures.frames, first.figures.frames);
}

QTEST_GUILESS_MAIN(TestTrial)
#include "tst_trial.moc"
