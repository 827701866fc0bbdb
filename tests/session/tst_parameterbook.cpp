#include "parameterbook.h"

#include <QTest>

using namespace oe;

using State = ParameterBook::State;
using Verdict = ParameterBook::Verdict;
using Answers = QList<int>; // -1: the read got no answer

class TestParameterBook : public QObject
{
    Q_OBJECT
private slots:
    void verdicts_data();
    void verdicts();
    void onePassInIndexOrder();
};

// A read answered first as listed, then the verification reads answer as listed. A value is whatever
// the controller holds: one beyond any slider (an erased memory's 65535) is known like any other.
void TestParameterBook::verdicts_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<int>("value");
    QTest::newRow("same again") << 1500 << Answers{1500} << int(Verdict::Confirmed) << 1500;
    QTest::newRow("the first read flipped: twice another value") << 1500 << Answers{1436, 1436} << int(Verdict::Changed) << 1436;
    QTest::newRow("flipped in the check") << 1500 << Answers{1436, 1500} << int(Verdict::Confirmed) << 1500;
    QTest::newRow("three different") << 1500 << Answers{1436, 1372} << int(Verdict::Unknown) << 0;
    QTest::newRow("check unanswered, third agrees") << 1500 << Answers{-1, 1500} << int(Verdict::Confirmed) << 1500;
    QTest::newRow("check unanswered, third differs") << 1500 << Answers{-1, 1436} << int(Verdict::Unknown) << 0;
    QTest::newRow("both unanswered") << 1500 << Answers{-1, -1} << int(Verdict::Unknown) << 0;
    QTest::newRow("erased memory, read twice") << 65535 << Answers{65535} << int(Verdict::Confirmed) << 65535;
}

void TestParameterBook::verdicts()
{
    QFETCH(int, first);
    QFETCH(Answers, answers);
    ParameterBook book;
    book.readAnswered(ParameterIndex::RpmMin, first);
    QCOMPARE(book.state(ParameterIndex::RpmMin), State::Verifying);
    QCOMPARE(book.value(ParameterIndex::RpmMin), std::optional<qint32>(first));
    Verdict verdict = Verdict::ReadAgain;
    for (int i = 0; i < answers.size(); ++i) {
        QCOMPARE(book.nextToVerify(), std::optional(ParameterIndex::RpmMin));
        verdict = book.checkAnswered(ParameterIndex::RpmMin, answers[i] < 0 ? std::nullopt : std::optional(answers[i]));
        QCOMPARE(verdict == Verdict::ReadAgain, i + 1 < answers.size());
    }
    QTEST(int(verdict), "verdict");
    const bool unknown = verdict == Verdict::Unknown;
    QCOMPARE(book.state(ParameterIndex::RpmMin), unknown ? State::Unknown : State::Known);
    QCOMPARE(book.hasValue(ParameterIndex::RpmMin), !unknown);
    if (!unknown)
        QTEST(*book.value(ParameterIndex::RpmMin), "value");
    QVERIFY(!book.verifying());
}

// Only parameters that were read are checked, in index order; an echo takes its parameter out, a
// write keeps the value before it, and a read without an answer leaves nothing.
void TestParameterBook::onePassInIndexOrder()
{
    ParameterBook book;
    book.readAnswered(ParameterIndex::MaxPumpCycles, 15);
    book.readAnswered(ParameterIndex::TinjMax, 9000);
    book.readAnswered(ParameterIndex::MaxLoadPumpPause, 80);
    book.readAnswered(ParameterIndex::RpmMin, std::nullopt);
    QCOMPARE(book.state(ParameterIndex::RpmMin), State::Unknown);
    QCOMPARE(book.nextToVerify(), std::optional(ParameterIndex::MaxPumpCycles));
    QCOMPARE(book.checkAnswered(ParameterIndex::MaxPumpCycles, 13), Verdict::ReadAgain);
    QCOMPARE(book.nextToVerify(), std::optional(ParameterIndex::MaxPumpCycles));
    QCOMPARE(book.checkAnswered(ParameterIndex::MaxPumpCycles, 15), Verdict::Confirmed);
    book.writeStarted(ParameterIndex::TinjMax);
    QCOMPARE(book.state(ParameterIndex::TinjMax), State::Writing);
    QCOMPARE(book.value(ParameterIndex::TinjMax), std::optional<qint32>(9000));
    QCOMPARE(book.nextToVerify(), std::optional(ParameterIndex::MaxLoadPumpPause));
    // An answer for a parameter not being checked is no verdict.
    QCOMPARE(book.checkAnswered(ParameterIndex::TinjMax, 9000), Verdict::ReadAgain);
    book.echoed(ParameterIndex::TinjMax, 12000);
    QCOMPARE(book.state(ParameterIndex::TinjMax), State::Known);
    QCOMPARE(book.value(ParameterIndex::TinjMax), std::optional<qint32>(12000));
    // Read again, a parameter starts over from its new answer.
    book.readAnswered(ParameterIndex::MinPumpCycles, 5);
    QCOMPARE(book.checkAnswered(ParameterIndex::MinPumpCycles, 6), Verdict::ReadAgain);
    book.readAnswered(ParameterIndex::MinPumpCycles, 6);
    QCOMPARE(book.nextToVerify(), std::optional(ParameterIndex::MinPumpCycles));
    QCOMPARE(book.checkAnswered(ParameterIndex::MinPumpCycles, 6), Verdict::Confirmed);
    book.forgetAll();
    QVERIFY(!book.nextToVerify());
    QVERIFY(!book.hasValue(ParameterIndex::TinjMax));
}

QTEST_GUILESS_MAIN(TestParameterBook)
#include "tst_parameterbook.moc"
