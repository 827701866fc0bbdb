#include "parameterset.h"

#include <QTest>

using namespace oe;

class TestParameterSet : public QObject
{
    Q_OBJECT
private slots:
    void startsAtZero();
    void indexSelectsItsField_data();
    void indexSelectsItsField();
};

void TestParameterSet::startsAtZero()
{
    const ParameterSet set;
    for (int i = 0; i < kParameterCount; ++i)
        QCOMPARE(set[ParameterIndex(i)], 0);
}

void TestParameterSet::indexSelectsItsField_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<qint32 ParameterSet::*>("field");
    QTest::newRow("0") << 0 << &ParameterSet::MinPumpCycles;
    QTest::newRow("1") << 1 << &ParameterSet::MaxPumpCycles;
    QTest::newRow("2") << 2 << &ParameterSet::RpmMin;
    QTest::newRow("3") << 3 << &ParameterSet::TinjMin;
    QTest::newRow("4") << 4 << &ParameterSet::TinjMax;
    QTest::newRow("5") << 5 << &ParameterSet::MinLoadPumpPause;
    QTest::newRow("6") << 6 << &ParameterSet::MaxLoadPumpPause;
    QTest::newRow("7") << 7 << &ParameterSet::RpmMultiplier;
}

void TestParameterSet::indexSelectsItsField()
{
    QFETCH(int, index);
    QFETCH(qint32 ParameterSet::*, field);
    ParameterSet set;
    set[ParameterIndex(index)] = 1234 + index;
    QCOMPARE(set.*field, 1234 + index);
    // Exactly one field changed.
    ParameterSet expected;
    expected.*field = 1234 + index;
    QVERIFY(set == expected);
    const ParameterSet &constSet = set;
    QCOMPARE(constSet[ParameterIndex(index)], 1234 + index);
}

QTEST_GUILESS_MAIN(TestParameterSet)
#include "tst_parameterset.moc"
