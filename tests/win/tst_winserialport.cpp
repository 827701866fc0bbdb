// The Win32 serial port against a real COM port with the simulated controller behind it
// (scripts/test-windows links Wine's COM3 to oe-sim's pty). OE_TEST_COM names that port and
// OE_TEST_MISSING_COM one with nothing behind it; without OE_TEST_COM the exchanges skip.

#include "replydecoder.h"
#include "winserialport.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

using namespace oe;

namespace {

constexpr int kPatienceMs = 8000;

QByteArray readFrame(int index)
{
    return QByteArray("\x50\x43\x01", 3) + char(index) + QByteArray(3, '\0');
}

int envPort(const char *name, int fallback)
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue(name, &ok);
    return ok ? n : fallback;
}

} // namespace

class TestWinSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void openMissingPortFails();
    void exchange_data();
    void exchange();
    void framesWrittenBackToBackAllGoOut();
    void discardDropsWaitingBytes();
    void closeThenReopen();

private:
    // Collects what arrives through receive events until it holds `count` bytes.
    QByteArray collect(WinSerialPort &port, qsizetype count);
    int m_com = 0;
};

void TestWinSerialPort::init()
{
    m_com = envPort("OE_TEST_COM", 0);
}

QByteArray TestWinSerialPort::collect(WinSerialPort &port, qsizetype count)
{
    QByteArray got;
    const QMetaObject::Connection c = connect(&port, &SerialPort::receiveEvent, this,
                                              [&] { got += port.readAll(); });
    QDeadlineTimer patience(kPatienceMs);
    while (got.size() < count && port.isOpen() && !patience.hasExpired())
        QTest::qWait(5);
    disconnect(c);
    return got;
}

void TestWinSerialPort::openMissingPortFails()
{
    WinSerialPort port(QStringLiteral("."));
    QSignalSpy lost(&port, &SerialPort::portLost);
    QString error;
    QVERIFY(!port.open(envPort("OE_TEST_MISSING_COM", 9), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!port.isOpen());
    port.write(readFrame(0)); // harmless on a closed port
    QCOMPARE(port.readAll(), QByteArray());
    QCOMPARE(lost.count(), 0);
}

void TestWinSerialPort::exchange_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("replyLength");
    QTest::addColumn<int>("kind");
    QTest::newRow("version") << QByteArray::fromHex("50430400000000") << 6 << int(ReplyKind::Version);
    QTest::newRow("status") << QByteArray::fromHex("50430300000000") << 11 << int(ReplyKind::Status);
    QTest::newRow("read 5") << readFrame(5) << 6 << int(ReplyKind::Parameter);
}

void TestWinSerialPort::exchange()
{
    QFETCH(QByteArray, request);
    QFETCH(int, replyLength);
    QFETCH(int, kind);
    if (!m_com)
        QSKIP("OE_TEST_COM names no port with the simulator behind it");
    WinSerialPort port(QStringLiteral("."));
    QSignalSpy lost(&port, &SerialPort::portLost);
    QString error;
    QVERIFY2(port.open(m_com, &error), qPrintable(error));
    // The whole reply in one receive event: the event waits for the threshold.
    port.setReceiveThreshold(replyLength);
    QSignalSpy events(&port, &SerialPort::receiveEvent);
    port.write(request);
    QTRY_VERIFY_WITH_TIMEOUT(!events.isEmpty(), kPatienceMs);
    const QByteArray reply = port.readAll();
    QCOMPARE(reply.size(), replyLength);
    const DecodedReply decoded = decodeReply(reply);
    QCOMPARE(int(decoded.kind), kind);
    if (decoded.kind == ReplyKind::Version)
        QCOMPARE(decoded.version, (std::array<quint8, 3>{1, 3, 7}));
    if (decoded.kind == ReplyKind::Parameter)
        QCOMPARE(decoded.index, 5);
    QCOMPARE(lost.count(), 0);
}

void TestWinSerialPort::framesWrittenBackToBackAllGoOut()
{
    if (!m_com)
        QSKIP("OE_TEST_COM names no port with the simulator behind it");
    WinSerialPort port(QStringLiteral("."));
    QString error;
    QVERIFY2(port.open(m_com, &error), qPrintable(error));
    port.setReceiveThreshold(1);
    // Queued while the first write is still in flight: each must leave whole and in order.
    for (int i = 0; i < 8; ++i)
        port.write(readFrame(i));
    const QByteArray got = collect(port, 8 * 6);
    QCOMPARE(got.size(), 8 * 6);
    for (int i = 0; i < 8; ++i) {
        const DecodedReply reply = decodeReply(got.mid(i * 6, 6));
        QCOMPARE(int(reply.kind), int(ReplyKind::Parameter));
        QCOMPARE(reply.index, i);
    }
}

void TestWinSerialPort::discardDropsWaitingBytes()
{
    if (!m_com)
        QSKIP("OE_TEST_COM names no port with the simulator behind it");
    WinSerialPort port(QStringLiteral("."));
    QString error;
    QVERIFY2(port.open(m_com, &error), qPrintable(error));
    port.setReceiveThreshold(11);
    QSignalSpy events(&port, &SerialPort::receiveEvent);
    port.write(QByteArray::fromHex("50430300000000"));
    QTRY_VERIFY_WITH_TIMEOUT(!events.isEmpty(), kPatienceMs);
    port.discardInput();
    QCOMPARE(port.readAll(), QByteArray());
    QVERIFY(port.isOpen());
}

void TestWinSerialPort::closeThenReopen()
{
    if (!m_com)
        QSKIP("OE_TEST_COM names no port with the simulator behind it");
    WinSerialPort port(QStringLiteral("."));
    QSignalSpy lost(&port, &SerialPort::portLost);
    QString error;
    QVERIFY2(port.open(m_com, &error), qPrintable(error));
    port.close(); // cancels the receive wait in flight
    QVERIFY(!port.isOpen());
    port.write(readFrame(1));
    QVERIFY2(port.open(m_com, &error), qPrintable(error));
    port.setReceiveThreshold(1);
    port.write(readFrame(2));
    const QByteArray got = collect(port, 6);
    QCOMPARE(got.size(), 6); // only the reply to the frame sent while open
    QCOMPARE(decodeReply(got).index, 2);
    QCOMPARE(lost.count(), 0);
}

QTEST_GUILESS_MAIN(TestWinSerialPort)
#include "tst_winserialport.moc"
