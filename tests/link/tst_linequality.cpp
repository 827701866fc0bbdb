#include "linequality.h"

#include <QTest>

using namespace oe;

// "12000:ok", "12000:noise", "12000:bad" or "12000:silent", at that many milliseconds.
using Tries = QStringList;

class TestLineQuality : public QObject
{
    Q_OBJECT
private slots:
    void failedShareOverTheLastMinute_data();
    void failedShareOverTheLastMinute();
};

void TestLineQuality::failedShareOverTheLastMinute_data()
{
    QTest::addColumn<Tries>("tries");
    QTest::addColumn<qint64>("atMs");
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("noisy");
    QTest::newRow("no tries") << Tries{} << qint64(0) << 0 << false;
    QTest::newRow("one in ten is not noisy")
        << Tries{"0:noise", "1:ok", "2:ok", "3:ok", "4:ok", "5:ok", "6:ok", "7:ok", "8:ok", "9:ok"} << qint64(10) << 10
        << false;
    QTest::newRow("two in eleven is") << Tries{"0:noise", "1:noise", "2:ok", "3:ok", "4:ok", "5:ok", "6:ok", "7:ok",
                                              "8:ok", "9:ok", "10:ok"}
                                      << qint64(11) << 18 << true;
    QTest::newRow("a minute later the failures are forgotten")
        << Tries{"0:noise", "1:noise", "30000:ok", "40000:ok"} << qint64(60001) << 0 << false;
    QTest::newRow("still inside the minute") << Tries{"0:noise", "30000:ok"} << qint64(59999) << 50 << true;
    QTest::newRow("silence is not noise")
        << Tries{"0:silent", "1:silent", "2:silent", "3:silent", "4:ok", "5:ok"} << qint64(6) << 0 << false;
    QTest::newRow("a bad frame is noise, silence is left out")
        << Tries{"0:bad", "1:silent", "2:silent", "3:ok"} << qint64(4) << 50 << true;
    QTest::newRow("only silence") << Tries{"0:silent", "1:silent"} << qint64(2) << 0 << false;
}

void TestLineQuality::failedShareOverTheLastMinute()
{
    QFETCH(Tries, tries);
    QFETCH(qint64, atMs);
    LineQuality quality;
    const QHash<QString, TryEnd> ends{{"ok", TryEnd::Answered},
                                      {"noise", TryEnd::Noise},
                                      {"bad", TryEnd::BadFrame},
                                      {"silent", TryEnd::TimedOut}};
    for (const QString &t : tries)
        quality.record(ends.value(t.section(u':', 1)), t.section(u':', 0, 0).toLongLong());
    QTEST(quality.failedPercent(atMs), "percent");
    QTEST(quality.noisy(atMs), "noisy");
    quality.clear();
    QCOMPARE(quality.failedPercent(atMs), 0);
}

QTEST_GUILESS_MAIN(TestLineQuality)
#include "tst_linequality.moc"
