#include "clocaleguard.h"
#include "lenientnumber.h"

#include <QtTest>

#include <optional>

using namespace oe;

class TestLenientNumber : public QObject
{
    Q_OBJECT
private slots:
    void reading_data();
    void reading();
    void integers_data();
    void integers();
};

void TestLenientNumber::reading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("plain") << "1500" << 1500.0;
    QTest::newRow("leading blanks") << "   42" << 42.0;
    QTest::newRow("blanks inside") << " 1 5 0 0 " << 1500.0;
    QTest::newRow("tab") << "\t7" << 7.0;
    QTest::newRow("minus") << "-12" << -12.0;
    QTest::newRow("minus then blank") << "- 12" << -12.0;
    QTest::newRow("plus") << "+8" << 8.0;
    QTest::newRow("fraction") << "12.5" << 12.5;
    QTest::newRow("point first") << ".5" << 0.5;
    QTest::newRow("stops at junk") << "12abc" << 12.0;
    QTest::newRow("stops at second point") << "1.2.3" << 1.2;
    QTest::newRow("stops at second sign") << "-1-2" << -1.0;
    QTest::newRow("junk first") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("point only") << "." << 0.0;
    QTest::newRow("leading zeros") << "0007" << 7.0;
    QTest::newRow("equals sign") << "=7" << 0.0;
    QTest::newRow("nul stops") << QString::fromLatin1("5\0" "9", 3) << 5.0;
    QTest::newRow("huge") << QString(400, u'9') << std::numeric_limits<double>::infinity();
}

void TestLenientNumber::reading()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(readLenientNumber(text), expected);
}

void TestLenientNumber::integers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("min");
    QTest::addColumn<qint64>("max");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<QByteArray>("cLocale"); // empty: the locale the test starts in
    const qint64 i32min = INT32_MIN, i32max = INT32_MAX;
    QTest::newRow("12.5 to even") << "12.5" << i32min << i32max << true << qint64(12) << QByteArray();
    QTest::newRow("13.5 to even") << "13.5" << i32min << i32max << true << qint64(14) << QByteArray();
    QTest::newRow("-2.5 to even") << "-2.5" << i32min << i32max << true << qint64(-2) << QByteArray();
    QTest::newRow("12.51 up") << "12.51" << i32min << i32max << true << qint64(13) << QByteArray();
    QTest::newRow("0.4 down") << "0.4" << i32min << i32max << true << qint64(0) << QByteArray();
    QTest::newRow("max fits") << "2147483647" << i32min << i32max << true << qint64(INT32_MAX) << QByteArray();
    QTest::newRow("max+1 fails") << "2147483648" << i32min << i32max << false << qint64(0) << QByteArray();
    QTest::newRow("max+0.5 rounds past") << "2147483647.5" << i32min << i32max << false << qint64(0) << QByteArray();
    QTest::newRow("min fits") << "-2147483648" << i32min << i32max << true << qint64(INT32_MIN) << QByteArray();
    QTest::newRow("entry 1000") << "1000" << qint64(0) << qint64(1000) << true << qint64(1000) << QByteArray();
    QTest::newRow("entry 1001") << "1001" << qint64(0) << qint64(1000) << false << qint64(0) << QByteArray();
    QTest::newRow("entry -001") << "-001" << qint64(0) << qint64(1000) << false << qint64(0) << QByteArray();
    QTest::newRow("entry 999.5") << "999.5" << qint64(0) << qint64(1000) << true << qint64(1000) << QByteArray();
    QTest::newRow("huge") << QString(400, u'9') << i32min << i32max << false << qint64(0) << QByteArray();
    QTest::newRow("junk is zero") << "x" << qint64(0) << qint64(1000) << true << qint64(0) << QByteArray();
    // Under a comma-decimal C locale the C library would stop at the point and read 13.
    QTest::newRow("13.5 Italian C locale") << "13.5" << i32min << i32max << true << qint64(14) << QByteArray(kItalianLocale);
    QTest::newRow("12.5 Italian C locale") << "12.5" << i32min << i32max << true << qint64(12) << QByteArray(kItalianLocale);
    // 2^63 and above: double(INT64_MAX) is 2^63 itself, so a careless bound check lets it through.
    const qint64 i64min = INT64_MIN, i64max = INT64_MAX;
    QTest::newRow("9.3e18 past int64") << "9300000000000000000" << i64min << i64max << false << qint64(0) << QByteArray();
    QTest::newRow("2^63 past int64") << "9223372036854775808" << i64min << i64max << false << qint64(0) << QByteArray();
    QTest::newRow("-2^63 fits int64") << "-9223372036854775808" << i64min << i64max << true << i64min << QByteArray();
    // The text of INT64_MAX reads as 2^63, which no 64-bit integer holds (a fuzzing find).
    QTest::newRow("int64 max reads past the range") << "9223372036854775807" << i64min << i64max << false
                                                    << qint64(0) << QByteArray();
    // A bound no double holds: 2^54+3 as a double is 2^54+4, which must still count as above it.
    QTest::newRow("bound between doubles") << "18014398509481987" << qint64(0) << qint64(18014398509481987)
                                           << false << qint64(0) << QByteArray();
}

void TestLenientNumber::integers()
{
    QFETCH(QString, text);
    QFETCH(qint64, min);
    QFETCH(qint64, max);
    QFETCH(bool, ok);
    QFETCH(qint64, expected);
    QFETCH(QByteArray, cLocale);
    std::optional<CLocaleGuard> locale;
    if (!cLocale.isEmpty()) {
        locale.emplace(cLocale.constData());
        if (!locale->ok())
            QSKIP(kNoItalianLocale);
        QCOMPARE(CLocaleGuard::decimalPoint(), ',');
    }
    const auto value = readLenientInteger(text, min, max);
    QCOMPARE(value.has_value(), ok);
    if (ok)
        QCOMPARE(*value, expected);
}

QTEST_APPLESS_MAIN(TestLenientNumber)
#include "tst_lenientnumber.moc"
