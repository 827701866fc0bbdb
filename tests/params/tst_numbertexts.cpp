#include "numbertexts.h"

#include <QLocale>
#include <QTest>

using namespace oe;

class TestNumberTexts : public QObject
{
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::system()); }

    void seconds_data();
    void seconds();
    void italianSeparator_data();
    void italianSeparator();
    void plainAndPercent_data();
    void plainAndPercent();
    void displayTextPerField_data();
    void displayTextPerField();
};

void TestNumberTexts::seconds_data()
{
    QTest::addColumn<qint64>("raw");
    QTest::addColumn<bool>("pause");
    QTest::addColumn<QString>("expected");

    QTest::newRow("pump 1") << qint64(1) << false << "0.02 s";
    QTest::newRow("pump 25") << qint64(25) << false << "0.5 s";
    QTest::newRow("pump 50") << qint64(50) << false << "1 s";
    QTest::newRow("pump 0") << qint64(0) << false << "0 s";
    QTest::newRow("pump 5") << qint64(5) << false << "0.1 s";
    QTest::newRow("pump 51") << qint64(51) << false << "1.02 s";
    QTest::newRow("pump 65535") << qint64(65535) << false << "1310.7 s";
    QTest::newRow("pause 80") << qint64(80) << true << "2 s";
    QTest::newRow("pause 81 half to even down") << qint64(81) << true << "2.02 s";
    QTest::newRow("pause 83 half to even up") << qint64(83) << true << "2.08 s";
    QTest::newRow("pause 1 half to even down") << qint64(1) << true << "0.02 s";
    QTest::newRow("pause 3 half to even up") << qint64(3) << true << "0.08 s";
    QTest::newRow("pause 90") << qint64(90) << true << "2.25 s";
    QTest::newRow("pause 84") << qint64(84) << true << "2.1 s";
    QTest::newRow("pause 119 no carry") << qint64(119) << true << "2.98 s";
    QTest::newRow("pause 2400") << qint64(2400) << true << "60 s";
    QTest::newRow("pump -25") << qint64(-25) << false << "-0.5 s";
    QTest::newRow("pause -81") << qint64(-81) << true << "-2.02 s";
    QTest::newRow("pause min 64-bit") << std::numeric_limits<qint64>::min() << true
                                      << "-230584300921369395.2 s";
}

void TestNumberTexts::seconds()
{
    QFETCH(qint64, raw);
    QFETCH(bool, pause);
    QFETCH(QString, expected);
    QCOMPARE(secondsText(raw, pause ? SecondsUnit::Steps25ms : SecondsUnit::Steps20ms), expected);
}

void TestNumberTexts::italianSeparator_data()
{
    QTest::addColumn<qint64>("raw");
    QTest::addColumn<bool>("pause");
    QTest::addColumn<QString>("expected");
    QTest::newRow("pump 25") << qint64(25) << false << "0,5 s";
    QTest::newRow("pause 90") << qint64(90) << true << "2,25 s";
    QTest::newRow("whole number has no separator") << qint64(2400) << true << "60 s";
}

void TestNumberTexts::italianSeparator()
{
    QFETCH(qint64, raw);
    QFETCH(bool, pause);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    QCOMPARE(secondsText(raw, pause ? SecondsUnit::Steps25ms : SecondsUnit::Steps20ms), expected);
}

void TestNumberTexts::plainAndPercent_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("percent");
    QTest::newRow("0") << qint64(0) << "0" << "0%";
    QTest::newRow("1500") << qint64(1500) << "1500" << "1500%";
    QTest::newRow("65535") << qint64(65535) << "65535" << "65535%";
    QTest::newRow("negative") << qint64(-7) << "-7" << "-7%";
}

void TestNumberTexts::plainAndPercent()
{
    QFETCH(qint64, value);
    QFETCH(QString, plain);
    QFETCH(QString, percent);
    // Grouping separators would show up here under a locale that groups thousands.
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    QCOMPARE(plainNumberText(value), plain);
    QCOMPARE(percentText(value), percent);
}

void TestNumberTexts::displayTextPerField_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<qint32>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("MinPumpCycles") << 0 << 25 << "0.5 s";
    QTest::newRow("MaxPumpCycles") << 1 << 50 << "1 s";
    QTest::newRow("RpmMin") << 2 << 1500 << "1500";
    QTest::newRow("TinjMin") << 3 << 50 << "50";
    QTest::newRow("TinjMax") << 4 << 30000 << "30000";
    QTest::newRow("MinLoadPumpPause") << 5 << 90 << "2.25 s";
    QTest::newRow("MaxLoadPumpPause") << 6 << 81 << "2.02 s";
    QTest::newRow("RpmMultiplier") << 7 << 155 << "155%";
}

void TestNumberTexts::displayTextPerField()
{
    QFETCH(int, index);
    QFETCH(qint32, value);
    QFETCH(QString, expected);
    QCOMPARE(displayText(ParameterIndex(index), value), expected);
}

QTEST_GUILESS_MAIN(TestNumberTexts)
#include "tst_numbertexts.moc"
