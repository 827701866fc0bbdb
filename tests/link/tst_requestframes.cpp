#include "requestframes.h"

#include <QTest>

using namespace oe;

class TestRequestFrames : public QObject
{
    Q_OBJECT
private slots:
    void requestFrame_data();
    void requestFrame();
    void requestFrameIsFresh();
    void writeFrame_data();
    void writeFrame();
    void writeFrameKeepsTailZero();
    void writeOutOfRange_data();
    void writeOutOfRange();
};

void TestRequestFrames::requestFrame_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("status") << 3 << 0 << QByteArray::fromHex("50430300000000");
    QTest::newRow("read TinjMax") << 1 << 4 << QByteArray::fromHex("50430104000000");
    QTest::newRow("read RpmMultiplier") << 1 << 7 << QByteArray::fromHex("50430107000000");
    QTest::newRow("version") << 4 << 0 << QByteArray::fromHex("50430400000000");
    QTest::newRow("reset") << 10 << 0 << QByteArray::fromHex("50430a00000000");
    // Only reads carry an index.
    QTest::newRow("status ignores index") << 3 << 5 << QByteArray::fromHex("50430300000000");
}

void TestRequestFrames::requestFrame()
{
    QFETCH(int, code);
    QFETCH(int, index);
    QFETCH(QByteArray, expected);
    QCOMPARE(RequestFrame(CommandCode(code), quint8(index)).toHex(' '), expected.toHex(' '));
}

void TestRequestFrames::requestFrameIsFresh()
{
    QByteArray first = RequestFrame(CommandCode::ReadParameter, 6);
    first[6] = '\x55';
    QCOMPARE(RequestFrame(CommandCode::Version), QByteArray::fromHex("50430400000000"));
}

void TestRequestFrames::writeFrame_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<qint32>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("RpmMin 1500") << 2 << 1500 << QByteArray::fromHex("504302" "0205dc" "000000");
    QTest::newRow("TinjMin 0x1234") << 3 << 0x1234 << QByteArray::fromHex("504302" "031234" "000000");
    QTest::newRow("255") << 0 << 255 << QByteArray::fromHex("504302" "0000ff" "000000");
    QTest::newRow("256") << 0 << 256 << QByteArray::fromHex("504302" "000100" "000000");
    QTest::newRow("65535") << 7 << 65535 << QByteArray::fromHex("504302" "07ffff" "000000");
    QTest::newRow("0") << 5 << 0 << QByteArray::fromHex("504302" "050000" "000000");
}

void TestRequestFrames::writeFrame()
{
    QFETCH(int, index);
    QFETCH(qint32, value);
    QFETCH(QByteArray, expected);
    WriteFrame frame;
    const auto bytes = frame.build(quint8(index), value);
    QVERIFY(bytes.has_value());
    QCOMPARE(bytes->toHex(' '), expected.toHex(' '));
    QCOMPARE(frame.bytes(), expected);
}

void TestRequestFrames::writeFrameKeepsTailZero()
{
    WriteFrame frame;
    QVERIFY(frame.build(7, 0xFFFF));
    const auto second = frame.build(1, 0x0102);
    QVERIFY(second);
    QCOMPARE(second->toHex(' '), QByteArray::fromHex("504302010102000000").toHex(' '));
}

void TestRequestFrames::writeOutOfRange_data()
{
    QTest::addColumn<qint32>("value");
    QTest::newRow("65536") << 65536;
    QTest::newRow("-1") << -1;
    QTest::newRow("int min") << std::numeric_limits<qint32>::min();
    QTest::newRow("int max") << std::numeric_limits<qint32>::max();
}

void TestRequestFrames::writeOutOfRange()
{
    QFETCH(qint32, value);
    WriteFrame frame;
    QVERIFY(frame.build(4, 0x0A0B));
    QVERIFY(!frame.build(2, value).has_value());
    // The refused value leaves the buffer untouched.
    QCOMPARE(frame.bytes(), QByteArray::fromHex("504302040a0b000000"));
}

QTEST_GUILESS_MAIN(TestRequestFrames)
#include "tst_requestframes.moc"
