#include "parameterverifier.h"

#include <QTest>

using namespace oe;

using Verdict = ParameterVerifier::Verdict;
using Answers = QList<int>; // -1: the read got no answer

class TestParameterVerifier : public QObject
{
    Q_OBJECT
private slots:
    void verdicts_data();
    void verdicts();
    void onePassInIndexOrder();
};

// The sequence read 1500; then the verification reads answer as listed.
void TestParameterVerifier::verdicts_data()
{
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<int>("value");
    QTest::newRow("same again") << Answers{1500} << int(Verdict::Confirmed) << 1500;
    QTest::newRow("the first read flipped: twice another value") << Answers{1436, 1436} << int(Verdict::Changed) << 1436;
    QTest::newRow("flipped in the check") << Answers{1436, 1500} << int(Verdict::Confirmed) << 1500;
    QTest::newRow("three different") << Answers{1436, 1372} << int(Verdict::Unknown) << 0;
    QTest::newRow("check unanswered, third agrees") << Answers{-1, 1500} << int(Verdict::Confirmed) << 1500;
    QTest::newRow("check unanswered, third differs") << Answers{-1, 1436} << int(Verdict::Unknown) << 0;
    QTest::newRow("both unanswered") << Answers{-1, -1} << int(Verdict::Unknown) << 0;
}

void TestParameterVerifier::verdicts()
{
    QFETCH(Answers, answers);
    ParameterVerifier verifier;
    std::array<std::optional<qint32>, kParameterCount> first{};
    first[2] = 1500;
    verifier.start(first);
    ParameterVerifier::Outcome outcome;
    for (int i = 0; i < answers.size(); ++i) {
        QCOMPARE(verifier.next(), std::optional(ParameterIndex::RpmMin));
        outcome = verifier.answer(ParameterIndex::RpmMin, answers[i] < 0 ? std::nullopt : std::optional(answers[i]));
        QCOMPARE(int(outcome.verdict) == int(Verdict::ReadAgain), i + 1 < answers.size());
    }
    QTEST(int(outcome.verdict), "verdict");
    if (outcome.verdict != Verdict::Unknown)
        QTEST(outcome.value, "value");
    QVERIFY(!verifier.running());
}

// Only parameters that were read are checked, in index order, a third read right after its second;
// a commit takes its parameter out, and a new sequence starts over.
void TestParameterVerifier::onePassInIndexOrder()
{
    ParameterVerifier verifier;
    std::array<std::optional<qint32>, kParameterCount> first{};
    first[1] = 15;
    first[4] = 9000;
    first[6] = 80;
    verifier.start(first);
    QCOMPARE(verifier.next(), std::optional(ParameterIndex::MaxPumpCycles));
    QCOMPARE(verifier.answer(ParameterIndex::MaxPumpCycles, 13).verdict, Verdict::ReadAgain);
    QCOMPARE(verifier.next(), std::optional(ParameterIndex::MaxPumpCycles));
    QCOMPARE(verifier.answer(ParameterIndex::MaxPumpCycles, 15).verdict, Verdict::Confirmed);
    verifier.forget(ParameterIndex::TinjMax);
    QCOMPARE(verifier.next(), std::optional(ParameterIndex::MaxLoadPumpPause));
    // An answer for a parameter not due is no verdict.
    QCOMPARE(verifier.answer(ParameterIndex::TinjMax, 9000).verdict, Verdict::ReadAgain);
    verifier.start(first);
    QCOMPARE(verifier.next(), std::optional(ParameterIndex::MaxPumpCycles));
    // A single read joins in index order; read again, it starts over from its new answer.
    verifier.add(ParameterIndex::MinPumpCycles, 5);
    verifier.add(ParameterIndex::MinPumpCycles, 6);
    QCOMPARE(verifier.next(), std::optional(ParameterIndex::MinPumpCycles));
    QCOMPARE(verifier.answer(ParameterIndex::MinPumpCycles, 6).verdict, Verdict::Confirmed);
    verifier.clear();
    QVERIFY(!verifier.next());
}

QTEST_GUILESS_MAIN(TestParameterVerifier)
#include "tst_parameterverifier.moc"
